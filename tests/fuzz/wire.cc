// Fuzz targets of the wire: the frame reader and the library's connection.
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "connection.h"
#include "vornal.h"
#include "wire/frame.h"

void check(bool ok, const char *what);

// Feeds the rest in two pieces cut at byte 0, which when odd sets the limit
// before login: what decodes fits it and re-encodes to a body that decodes.
void fuzz_wire_frame(std::string_view in) {
  if (in.empty()) return;
  std::string_view all = in.substr(1);
  size_t cut = uint8_t(in[0]) % (all.size() + 1);
  wire::FrameReader reader;
  uint32_t limit = in[0] & 1 ? 4096 : wire::kMaxFrame;
  reader.set_limit(limit);
  reader.feed(all.substr(0, cut));
  wire::Frame f, back;
  for (wire::DecodeStatus st;
       (st = reader.next(f)) != wire::DecodeStatus::bad;) {
    if (st == wire::DecodeStatus::need_more && cut == all.size()) break;
    if (st == wire::DecodeStatus::need_more) {
      reader.feed(all.substr(std::exchange(cut, all.size())));
      continue;
    }
    std::string again = f.kind == wire::Kind::request ? wire::encode(f.request)
                        : f.kind == wire::Kind::reply ? wire::encode(f.reply)
                                                      : wire::encode(f.notice);
    check(
        again.size() - wire::kLengthSize <= limit &&
            wire::decode_body(std::string_view(again).substr(wire::kLengthSize),
                              back) == wire::DecodeStatus::ok,
        "re-encoded frame over the limit or refused");
  }
  (void)wire::decode_hello(all);
}

// Plays the daemon after the greeting, then ends its stream: each answer
// has the id asked for; the connection ends in a state, never waiting.
void fuzz_vornal_reply(std::string_view in) {
  int sv[2];  // the library's end and the daemon's
  if (in.size() > 64 * 1024) return;
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "pair");
  check(write(sv[1], in.data(), in.size()) == ssize_t(in.size()), "write");
  shutdown(sv[1], SHUT_WR);
  check(vornal::make_blocking(sv[0], 20) == 0, "blocking");
  {
    vornal::Connection c(vornal::Fd(sv[0]), 200);
    c.send_noop();  // id 1
    for (uint32_t id = 2; id < 6; ++id) {
      std::optional<wire::Reply> r =
          c.exchange(VORNAL_MSG_GET, {std::nullopt, "/a", {}, "b", {}});
      check(!r || r->id == id, "answer to another request");
      c.poll_incoming();
    }
    check(c.state() != VORNAL_STATE_NOT_CONNECTED, "no state it can be in");
  }
  close(sv[1]);
}
