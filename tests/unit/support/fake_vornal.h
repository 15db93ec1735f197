// In-process stand-in for libvornal2: tests script the "daemon's" answers
// by request type, path and parameter name, and read back every request.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vornal.h"

namespace fake_vornal {

using text = std::optional<std::string>;  // nullopt is NULL

struct request {
  int type;
  text args[5];
};

// No handle at all, or a handle with a reply text and a status text.
struct reply {
  bool handle = true;
  text body, status;
};
inline const auto answer = [](text body) { return reply{true, body, "OK"}; };
inline const auto status_only = [](text s) { return reply{true, {}, s}; };
inline const auto no_handle = [] { return reply{false, {}, {}}; };

void reset();  // forgets all rules and requests
// Answers type at path (args[1]; nullopt: any) and, when given, name
// (args[3]). Path-and-name rules win over path rules over any-path ones.
void on(int type, text path, reply r, text name = std::nullopt);
// Consulted before the rules; nullopt hands the request on.
void respond_with(std::function<std::optional<reply>(const request &)> fn);
// The answer when no rule fits (default: a handle, NULL reply and status).
void set_default(reply r);
const std::vector<request> &requests();  // every request so far, in order
int live_handles();                      // handed out and not yet released

}  // namespace fake_vornal
