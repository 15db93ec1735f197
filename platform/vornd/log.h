// One line per event on standard error, with a UTC time stamp.
#pragma once

#include <string>
#include <string_view>

#include "wire/frame.h"

namespace vornd {

// Writes one formatted log line (printf format, no trailing newline).
void log_event(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The same at error level: "error: " in the text and, when standard error
// is the journal, its priority prefix, so that journalctl -p err and
// systemctl status single it out.
void log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Tells systemd a one-line status for systemctl status ("Status:"), when it
// runs the daemon with a notify socket; does nothing otherwise.
void notify_status(const std::string &status);

// Returns a peer-supplied text quoted and escaped for the log, cut short
// when long.
std::string quoted(std::string_view text);

}  // namespace vornd
