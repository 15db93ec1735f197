// Plays the daemon to the client library's connection with arbitrary bytes
// (what follows the greeting): replies with any id, notices, requests,
// garbage. The library sends a no-op and a few requests; each answer it
// hands out must carry the id it asked for, and the connection must end in
// one of its states, never hang.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "connection.h"
#include "vornal.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

// Returns a connected pair: [0] for the library, [1] for the daemon's side.
bool socket_pair(int sv[2]) {
  return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The daemon's side writes everything at once and then ends its stream,
  // so the library always sees an end rather than waiting out a time-out.
  if (size > 64 * 1024) return 0;
  int sv[2];
  check(socket_pair(sv));
  check(::write(sv[1], data, size) == static_cast<ssize_t>(size));
  ::shutdown(sv[1], SHUT_WR);
  check(vornal::make_blocking(sv[0], 20) == 0);
  {
    vornal::Connection c(vornal::Fd(sv[0]), 200);
    c.send_noop();  // id 1
    for (uint32_t id = 2; id < 6; ++id) {
      std::optional<wire::Reply> r =
          c.exchange(VORNAL_MSG_GET, {std::nullopt, "/a", {}, "b", {}});
      check(!r || r->id == id);
      c.poll_incoming();
    }
    int s = c.state();
    check(s == VORNAL_STATE_CONNECTED || s == VORNAL_STATE_HUNG ||
          s == VORNAL_STATE_ENDED || s == VORNAL_STATE_LOST);
  }
  ::close(sv[1]);
  return 0;
}
