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
inline reply answer(text body) {
  return {true, body, "OK"};
}
inline reply status_only(text status) {
  return {true, std::nullopt, status};
}
inline reply no_handle() {
  return {false, std::nullopt, std::nullopt};
}

// Forgets all rules and requests.
void reset();
// Answers type at path (args[1]; nullopt: any) and, when given, name
// (args[3]). Path-and-name rules win over path rules over any-path ones.
void on(int type, text path, reply r, text name = std::nullopt);
// Consulted before the rules; nullopt hands the request on.
void respond_with(std::function<std::optional<reply>(const request &)> fn);
// The answer when no rule fits (default: a handle, NULL reply and status).
void set_default(reply r);
// The requests so far as texts like 17(NULL,"/a",NULL,NULL,NULL), of one
// type only when type >= 0.
std::vector<std::string> request_texts(int type = -1);
void clear_requests();
// Number of handles handed out and not yet released.
int live_handles();

}  // namespace fake_vornal
