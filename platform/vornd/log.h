// One line per event on standard error, with a UTC time stamp.
#pragma once

namespace vornd {

// Writes one formatted log line (printf format, no trailing newline).
void log_event(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vornd
