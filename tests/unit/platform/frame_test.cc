// Refusals of the frame codec shared by library and daemon. Round trips show
// in the library tests; the wire_frame fuzz target feeds frames in pieces.
#include <gtest/gtest.h>

#include "wire/frame.h"

namespace {

wire::Frame decode_one(const std::string &bytes, wire::DecodeStatus want) {
  wire::FrameReader r;
  r.feed(bytes);
  wire::Frame f;
  EXPECT_EQ(r.next(f), want);
  return f;
}

TEST(Frame, RefusesOversizedTruncatedAndTrailing) {
  std::string big;  // a length one byte over the maximum
  for (int shift = 24; shift >= 0; shift -= 8)
    big.push_back(static_cast<char>(((wire::kMaxFrame + 1) >> shift) & 0xFF));
  decode_one(big, wire::DecodeStatus::bad);
  std::string ok = wire::encode(wire::Reply{3, "abc", "OK"});
  decode_one(ok.substr(0, ok.size() - 1), wire::DecodeStatus::need_more);
  // A text length that runs past the body is malformed, not "need more".
  std::string body = ok.substr(wire::kLengthSize);
  body[6] = 0x7F;
  wire::Frame f;
  EXPECT_EQ(wire::decode_body(body, f), wire::DecodeStatus::bad);
  std::string trailing = ok.substr(wire::kLengthSize) + "!";
  EXPECT_EQ(wire::decode_body(trailing, f), wire::DecodeStatus::bad);
  EXPECT_EQ(wire::decode_body(std::string("\x09", 1), f),
            wire::DecodeStatus::bad);
}

TEST(Frame, Hello) {
  EXPECT_EQ(wire::decode_hello(wire::encode_hello(9)), 9);
  EXPECT_FALSE(wire::decode_hello("VORX\0\1\0\0"));
  EXPECT_FALSE(wire::decode_hello("VORN"));
}

}  // namespace
