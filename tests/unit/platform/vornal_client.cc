#include "vornal_client.h"

#include <cstdlib>
#include <thread>

namespace vtest {
namespace {

Text take(char *s) {
  if (!s) return std::nullopt;
  std::string copy(s);
  free(s);
  return copy;
}

}  // namespace

Result call(int type, const char *a1, const char *a2, const char *a3,
            const char *a4, const char *a5) {
  Result r;
  vornal_message *m = vornal_send_message(type, a1, a2, a3, a4, a5);
  if (!m) return r;
  r.got = true;
  char *reply = vornal_get_message_reply(m);
  char *status = vornal_get_message_response_status(m);
  vornal_message_free(m);  // the copies outlive the handle
  r.reply = take(reply);
  r.status = take(status);
  return r;
}

long ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

long wait_state(int want, long max_ms) {
  auto start = std::chrono::steady_clock::now();
  while (ms_since(start) <= max_ms) {
    if (vornal_get_connection_state() == want) return ms_since(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void Client::TearDown() {
  vornal_disconnect();
  vornal_set_connection_debugging(0);
  unsetenv("VORNAL_TIMEOUT_MS");
}

}  // namespace vtest
