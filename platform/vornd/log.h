// One line per event on standard error, with a UTC time stamp.
#pragma once

#include <string>
#include <string_view>

#include "wire/frame.h"

namespace vornd {

// Writes one formatted log line (printf format, no trailing newline).
void log_event(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Returns a peer-supplied text quoted and escaped for the log, cut short
// when long.
std::string quoted(std::string_view text);

}  // namespace vornd
