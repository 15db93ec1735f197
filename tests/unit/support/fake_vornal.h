// In-process stand-in for libvornal2 in unit tests. Tests script what the
// "daemon" answers (per request type, path and parameter name) and read back
// every request in order, with NULL and "" told apart.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

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
  text body;
  text status;
};

// A handle whose reply text is body and whose status is status.
reply answer(text body, text status = "OK");

// A handle without reply text, carrying status only.
reply status_only(text status);

// No handle: the request "timed out".
reply no_handle();

// Forgets all rules and requests, closes nothing: connection state 5,
// connect result 5, keep-alive and debugging off. Call before each test.
void reset();

// Answers requests of type whose path (second argument) equals path; a null
// path matches any. Used times times (-1: forever). Among the rules that
// fit, path-and-name rules win over path rules over any-path rules; among
// equals the earliest with uses left.
void on(int type, text path, reply r, int times = -1);

// Like on(), and also requires the fourth argument (parameter name) to
// equal name.
void on(int type, text path, text name, reply r, int times = -1);

// A function consulted before the rules; nullopt hands the request on.
void respond_with(std::function<std::optional<reply>(const request &)> fn);

// The answer to a request that no rule fits (default: a handle with NULL
// reply and NULL status).
void set_default(reply r);

// Every request sent since reset or clear_requests, in order.
const std::vector<request> &requests();

// The requests as texts like 17(NULL,"/net",NULL,NULL,NULL).
std::vector<std::string> request_texts();

// The requests of one type only, as texts.
std::vector<std::string> request_texts(int type);

// Forgets the request log but keeps the rules.
void clear_requests();

// Number of handles handed out and not yet released.
int live_handles();

// Connection state answered by vornal_get_connection_state.
void set_connection_state(int state);

// Result of the next vornal_connect calls; 5 means connected.
void set_connect_result(int code);

// What the shell last asked of the connection functions.
int connect_calls();
std::string last_server();
int keep_alive_seconds();
bool debugging();

}  // namespace fake_vornal
