// The readable traffic trace of vornal_set_connection_debugging: one line
// per request, reply, notice or loss, written to stderr in a single write so
// that the keep-alive thread cannot split a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "wire/frame.h"

namespace vornal::trace {

// Turns the trace on or off for every thread.
void enable(bool on);

// Returns whether tracing is on.
bool enabled();

// Returns the line for a request, e.g. `vornal: send #3 type 15 (NULL, "/a",
// NULL, "p", NULL)`, newline included.
std::string request_line(const wire::Request &r);

// Returns the line for a reply, e.g. `vornal: recv #3 reply NULL status "OK"`.
std::string reply_line(const wire::Reply &r);

// Returns the line for a notice from the daemon.
std::string notice_line(const wire::Notice &n);

// Returns line with " (mark)" put before its line end; line unchanged for
// an empty mark.
std::string marked(std::string line, std::string_view mark);

// Writes line to stderr when tracing is on.
void emit(std::string_view line);

// Writes `vornal: <what>` to stderr when tracing is on.
void event(std::string_view what);

}  // namespace vornal::trace
