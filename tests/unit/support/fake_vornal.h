// In-process stand-in for libvornal2 in unit tests. Tests script what the
// "daemon" answers (per request type, path and parameter name) and read back
// every request in order, with NULL and "" told apart.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vornal.h"

namespace fake_vornal {

using text = std::optional<std::string>;

// One request as the shell sent it: type and the five arguments.
struct request {
  int type;
  text args[5];
};

// What one request yields: no handle at all, or a handle with a reply text
// and a status text (each possibly NULL).
struct reply {
  bool handle = true;
  text body, status;
};

inline reply answer(text body, text status = "OK") {
  return {true, body, status};
}
inline reply status_only(text status) {
  return {true, std::nullopt, status};
}
inline reply no_handle() {
  return {false, std::nullopt, std::nullopt};
}

// What the connection calls answer (connects always succeed) and what the
// shell last asked of them.
struct link_state {
  int state = VORNAL_STATE_CONNECTED;
  int connects = 0;
  int keep_alive_seconds = 0;
};
link_state &link();

// Forgets all rules, requests and link settings. Call before each test.
void reset();

// Answers requests of type whose path (second argument) equals path (a null
// path matches any) and, when given, whose fourth argument equals name.
// Used times times (-1: forever). Name rules win over path rules over
// any-path rules; among equals the earliest with uses left.
void on(int type, text path, text name, reply r, int times = -1);
inline void on(int type, text path, reply r, int times = -1) {
  on(type, path, std::nullopt, r, times);
}

// A function consulted before the rules; nullopt hands the request on.
void respond_with(std::function<std::optional<reply>(const request &)> fn);

// The answer when no rule fits (default: a handle, NULL reply and status).
void set_default(reply r);

// Every request since reset or clear_requests, in order; as texts like
// 17(NULL,"/net",NULL,NULL,NULL), of one type only when type >= 0.
const std::vector<request> &requests();
std::vector<std::string> request_texts(int type = -1);
void clear_requests();

// Number of handles handed out and not yet released.
int live_handles();

}  // namespace fake_vornal
