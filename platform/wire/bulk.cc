#include "wire/bulk.h"

namespace wire {
namespace {

constexpr uint32_t kNull = 0xFFFFFFFFu;

// Returns the value of a hexadecimal digit, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends a URL-encoded component decoded ("%XX" a byte, "+" a space), a
// "/" in it written "\/".
void append_decoded(std::string &out, std::string_view c) {
  for (size_t i = 0; i < c.size(); ++i) {
    char ch = c[i];
    if (ch == '+') ch = ' ';
    if (ch == '%' && i + 2 < c.size() && hex_value(c[i + 1]) >= 0 &&
        hex_value(c[i + 2]) >= 0) {
      ch = static_cast<char>(hex_value(c[i + 1]) * 16 + hex_value(c[i + 2]));
      i += 2;
    }
    if (ch == '/') out.push_back('\\');
    out.push_back(ch);
  }
}

void put_u32(std::string &s, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    s.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void put_text(std::string &s, const Text &t) {
  put_u32(s, t ? static_cast<uint32_t>(t->size()) : kNull);
  if (t) s.append(*t);
}

// Reads a text at pos; false when the bytes run out.
bool get_text(std::string_view b, size_t &pos, Text &t) {
  if (b.size() - pos < 4) return false;
  uint32_t len = 0;
  for (int i = 0; i < 4; ++i)
    len = len << 8 | static_cast<uint8_t>(b[pos + static_cast<size_t>(i)]);
  pos += 4;
  if (len == kNull) {
    t.reset();
    return true;
  }
  if (b.size() - pos < len) return false;
  t.emplace(b.substr(pos, len));
  pos += len;
  return true;
}

}  // namespace

std::string listed_path(std::string_view base, std::string_view line) {
  std::string out(base == "/" ? std::string_view() : base), part;
  // Components as the client splits them: at "/" not after a backslash,
  // empty ones dropped except a last one after a final "/".
  bool after_sep = false;
  for (size_t i = 0; i <= line.size(); ++i) {
    bool end = i == line.size();
    if (!end && line[i] != '/') {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      part.push_back(line[i]);
      after_sep = false;
      continue;
    }
    if (!part.empty() || (end && after_sep)) {
      out.push_back('/');
      append_decoded(out, part);
    }
    part.clear();
    after_sep = true;
  }
  return out;
}

void append_entry(std::string &chunk, const Text &reply, const Text &status) {
  put_text(chunk, reply);
  put_text(chunk, status);
}

bool next_entry(std::string_view chunk, size_t &pos, Text &reply,
                Text &status) {
  size_t at = pos;
  if (at >= chunk.size() || !get_text(chunk, at, reply) ||
      !get_text(chunk, at, status))
    return false;
  pos = at;
  return true;
}

}  // namespace wire
