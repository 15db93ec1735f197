#include "wire/frame.h"

#include <cstring>

namespace wire {
namespace {

constexpr uint32_t kNullLength = 0xFFFFFFFFu;

void put_u16(std::string &s, uint16_t v) {
  s.push_back(static_cast<char>(v >> 8));
  s.push_back(static_cast<char>(v & 0xFF));
}

void put_u32(std::string &s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// Prepends the body length once the body is complete.
std::string finish(std::string body) {
  std::string frame;
  frame.reserve(kLengthSize + body.size());
  put_u32(frame, static_cast<uint32_t>(body.size()));
  frame.append(body);
  return frame;
}

// Bounds-checked reader over one frame body.
class Cursor {
 public:
  explicit Cursor(std::string_view b) : b_(b) {}
  bool u8(uint8_t &v) {
    if (b_.size() - pos_ < 1) return false;
    v = static_cast<uint8_t>(b_[pos_++]);
    return true;
  }
  bool u16(uint16_t &v) {
    if (b_.size() - pos_ < 2) return false;
    v = static_cast<uint16_t>((byte(0) << 8) | byte(1));
    pos_ += 2;
    return true;
  }
  bool u32(uint32_t &v) {
    if (b_.size() - pos_ < 4) return false;
    v = (uint32_t{byte(0)} << 24) | (uint32_t{byte(1)} << 16) |
        (uint32_t{byte(2)} << 8) | uint32_t{byte(3)};
    pos_ += 4;
    return true;
  }
  bool text(Text &t) {
    uint32_t len;
    if (!u32(len)) return false;
    if (len == kNullLength) {
      t.reset();
      return true;
    }
    if (b_.size() - pos_ < len) return false;
    t.emplace(b_.substr(pos_, len));
    pos_ += len;
    return true;
  }
  bool at_end() const { return pos_ == b_.size(); }
  size_t used() const { return pos_; }

 private:
  uint8_t byte(size_t i) const { return static_cast<uint8_t>(b_[pos_ + i]); }
  std::string_view b_;
  size_t pos_ = 0;
};

}  // namespace

void put_text(std::string &out, const Text &t) {
  if (!t) {
    put_u32(out, kNullLength);
    return;
  }
  put_u32(out, static_cast<uint32_t>(t->size()));
  out.append(*t);
}

bool read_text(std::string_view bytes, size_t &pos, Text &t) {
  if (pos > bytes.size()) return false;
  Cursor c(bytes.substr(pos));
  if (!c.text(t)) return false;
  pos += c.used();
  return true;
}

std::string encode_hello(uint16_t version) {
  std::string s(kMagic, sizeof kMagic);
  put_u16(s, version);
  put_u16(s, 0);  // reserved flags
  return s;
}

std::optional<uint16_t> decode_hello(std::string_view bytes) {
  if (bytes.size() != kHelloSize || memcmp(bytes.data(), kMagic, 4) != 0)
    return std::nullopt;
  Cursor c(bytes.substr(4));
  uint16_t version = 0;
  return c.u16(version) ? std::optional<uint16_t>(version) : std::nullopt;
}

std::string encode(const Request &r) {
  std::string body;
  body.push_back(static_cast<char>(Kind::request));
  put_u32(body, r.id);
  put_u16(body, r.type);
  for (const Text &t : r.args) put_text(body, t);
  return finish(std::move(body));
}

std::string encode(const Reply &r) {
  std::string body;
  body.push_back(static_cast<char>(Kind::reply));
  put_u32(body, r.id);
  put_text(body, r.reply);
  put_text(body, r.status);
  return finish(std::move(body));
}

std::string encode(const Notice &n) {
  std::string body;
  body.push_back(static_cast<char>(Kind::notice));
  put_u32(body, n.code);
  put_text(body, n.text);
  return finish(std::move(body));
}

DecodeStatus decode_body(std::string_view body, Frame &out) {
  Cursor c(body);
  uint8_t kind;
  if (!c.u8(kind)) return DecodeStatus::bad;
  bool ok = false;
  switch (static_cast<Kind>(kind)) {
    case Kind::request:
      out.kind = Kind::request;
      ok = c.u32(out.request.id) && c.u16(out.request.type);
      for (Text &t : out.request.args) ok = ok && c.text(t);
      break;
    case Kind::reply:
      out.kind = Kind::reply;
      ok = c.u32(out.reply.id) && c.text(out.reply.reply) &&
           c.text(out.reply.status);
      break;
    case Kind::notice:
      out.kind = Kind::notice;
      ok = c.u32(out.notice.code) && c.text(out.notice.text);
      break;
  }
  // Trailing bytes mean the peer speaks something else; refuse them.
  return ok && c.at_end() ? DecodeStatus::ok : DecodeStatus::bad;
}

DecodeStatus FrameReader::next(Frame &out) {
  std::string_view rest(buf_);
  rest.remove_prefix(pos_);
  uint32_t len;
  Cursor c(rest);
  if (!c.u32(len)) return DecodeStatus::need_more;
  if (len > limit_) return DecodeStatus::bad;
  if (rest.size() - kLengthSize < len) {
    // Room for the whole frame at once: growing by doubling could leave
    // twice a large frame allocated.
    buf_.reserve(pos_ + kLengthSize + len);
    return DecodeStatus::need_more;
  }
  DecodeStatus st = decode_body(rest.substr(kLengthSize, len), out);
  pos_ += kLengthSize + len;
  if (pos_ == buf_.size()) {
    // All read: the next bytes start at the front. A large frame's room is
    // given back, so that one big listing does not pin megabytes for the
    // rest of a session; a small one is kept, so that a stream of small
    // replies neither grows the buffer nor allocates.
    if (buf_.capacity() > kKeptCapacity) std::string().swap(buf_);
    buf_.clear();
    pos_ = 0;
  } else if (buf_.capacity() > kKeptCapacity &&
             buf_.size() - pos_ <= kKeptCapacity) {
    // A large frame is read and the next one has begun: only that rest is
    // kept, so the large frame's room goes now, not when a read next ends
    // on a frame's end.
    std::string rest = buf_.substr(pos_);
    buf_.swap(rest);
    pos_ = 0;
  } else if (pos_ > 4096 && pos_ * 2 > buf_.size()) {
    // Drop consumed bytes once they dominate, so the buffer stays small.
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  return st;
}

std::string escape(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (unsigned char ch : text) {
    if (ch == '"' || ch == '\\') {
      s.push_back('\\');
      s.push_back(static_cast<char>(ch));
    } else if (ch == '\n') {
      s += "\\n";
    } else if (ch < 0x20 || ch == 0x7F) {
      static const char hex[] = "0123456789abcdef";
      s += "\\x";
      s.push_back(hex[ch >> 4]);
      s.push_back(hex[ch & 15]);
    } else {
      s.push_back(static_cast<char>(ch));
    }
  }
  return s;
}

std::string describe(const Text &t) {
  if (!t) return "NULL";
  return "\"" + escape(*t) + "\"";
}

}  // namespace wire
