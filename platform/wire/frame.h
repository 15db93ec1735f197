// The frames that libvornal2 and vornd exchange (docs/protocol.md).
// Encoding is pure: no I/O here, so both sides and the fuzzer share it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wire {

inline constexpr char kMagic[4] = {'V', 'O', 'R', 'N'};
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHelloSize = 8;
// Largest frame body either side accepts; a bigger length closes the link.
// Sized so that the whole listing of a 100,000-node tree fits in one reply.
inline constexpr uint32_t kMaxFrame = 16u << 20;
inline constexpr size_t kLengthSize = 4;

enum class Kind : uint8_t { request = 1, reply = 2, notice = 3 };

// Notice codes sent by the daemon without a request.
inline constexpr uint32_t kNoticeSessionEnded = 1;

using Text = std::optional<std::string>;  // nullopt is NULL, "" is empty

struct Request {
  uint32_t id = 0;
  uint16_t type = 0;
  std::array<Text, 5> args;
};

struct Reply {
  uint32_t id = 0;
  Text reply;
  Text status;
};

struct Notice {
  uint32_t code = 0;
  Text text;
};

struct Frame {
  Kind kind = Kind::request;
  Request request;  // valid when kind == request
  Reply reply;      // valid when kind == reply
  Notice notice;    // valid when kind == notice
};

// Appends t as frames hold a text: its length (or the null mark), then it.
void put_text(std::string &out, const Text &t);
// Reads a text held so at pos of bytes and moves pos past it; false when
// the bytes run out.
bool read_text(std::string_view bytes, size_t &pos, Text &t);

// Returns the 8-byte greeting each side sends first.
std::string encode_hello(uint16_t version = kVersion);

// Returns the peer's version from a greeting, or nullopt when it is not one.
std::optional<uint16_t> decode_hello(std::string_view bytes);

// Each returns a whole frame, length prefix included.
std::string encode(const Request &r);
std::string encode(const Reply &r);
std::string encode(const Notice &n);

enum class DecodeStatus { ok, need_more, bad };

// Parses one frame body (without its length prefix). Returns bad for any
// malformed body; never reads past body.
DecodeStatus decode_body(std::string_view body, Frame &out);

// Accumulates stream bytes and hands out whole frames.
class FrameReader {
 public:
  // Appends received bytes.
  void feed(std::string_view bytes) { buf_.append(bytes); }
  // Returns ok with the next frame, need_more when incomplete, bad when the
  // stream is malformed or announces a frame over the limit.
  DecodeStatus next(Frame &out);
  size_t buffered() const { return buf_.size() - pos_; }
  // Sets the largest body accepted from now on (at most kMaxFrame).
  void set_limit(uint32_t limit) {
    limit_ = limit < kMaxFrame ? limit : kMaxFrame;
  }

 private:
  static constexpr size_t kKeptCapacity = 64 * 1024;
  std::string buf_;
  size_t pos_ = 0;
  uint32_t limit_ = kMaxFrame;
};

// Returns a one-line readable rendering of a text for traces and logs:
// NULL for null, otherwise the text in double quotes with escapes.
std::string describe(const Text &t);

// Returns text with '"', '\\', line ends and other control bytes escaped
// (as describe() does, without the quotes).
std::string escape(std::string_view text);

}  // namespace wire
