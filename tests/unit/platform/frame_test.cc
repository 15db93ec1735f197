// Round trips and refusals of the frame codec shared by library and daemon.
// The wire_frame fuzz target feeds frames in pieces and back to back.
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

TEST(Frame, RequestKeepsNullAndEmptyApart) {
  wire::Request q;
  q.id = 42;
  q.type = 20;
  q.args = {"", std::nullopt, "x y", std::nullopt, std::string("\0z", 2)};
  wire::Frame f = decode_one(wire::encode(q), wire::DecodeStatus::ok);
  ASSERT_EQ(f.kind, wire::Kind::request);
  EXPECT_EQ(f.request.id, 42u);
  EXPECT_EQ(f.request.type, 20);
  EXPECT_EQ(f.request.args, q.args);
}

TEST(Frame, ReplyAndNoticeRoundTrip) {
  wire::Reply p{7, std::nullopt, "ERR No such file or directory"};
  wire::Frame f = decode_one(wire::encode(p), wire::DecodeStatus::ok);
  EXPECT_EQ(f.reply.id, 7u);
  EXPECT_FALSE(f.reply.reply);
  EXPECT_EQ(f.reply.status, p.status);
  wire::Notice n{wire::kNoticeSessionEnded, "forced"};
  f = decode_one(wire::encode(n), wire::DecodeStatus::ok);
  EXPECT_EQ(f.kind, wire::Kind::notice);
  EXPECT_EQ(f.notice.code, wire::kNoticeSessionEnded);
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

TEST(Frame, DescribeForTraces) {
  EXPECT_EQ(wire::describe(std::nullopt), "NULL");
  EXPECT_EQ(wire::describe(std::string()), "\"\"");
  EXPECT_EQ(wire::describe(std::string("a\"\n\x01")), "\"a\\\"\\n\\x01\"");
}

}  // namespace
