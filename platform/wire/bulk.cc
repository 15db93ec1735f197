#include "wire/bulk.h"

#include <algorithm>

namespace wire {
namespace {

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

bool is_plain_line(std::string_view line) {
  // A loop: find_first_of would search the set once per byte of the line.
  for (char c : line)
    if (c == '\\' || c == '%' || c == '+') return false;
  return true;
}

std::string plain_listed_path(std::string_view base, std::string_view line) {
  std::string out;
  out.reserve(base.size() + line.size() + 1);
  out.append(base == "/" ? std::string_view() : base);
  for (size_t i = 0; i < line.size();) {
    size_t end = std::min(line.find('/', i), line.size());
    if (end > i) out.append(1, '/').append(line.substr(i, end - i));
    i = end + 1;
  }
  if (!line.empty() && line.back() == '/') out.push_back('/');
  return out;
}

bool is_listed_path(std::string_view base, std::string_view line,
                    std::string_view path) {
  if (!is_plain_line(line)) return listed_path(base, line) == path;
  // Walks path along what plain_listed_path would write.
  size_t at = 0;
  auto next_is = [&](char c) { return at < path.size() && path[at++] == c; };
  for (char c : base == "/" ? std::string_view() : base)
    if (!next_is(c)) return false;
  bool in_part = false;
  for (char c : line) {
    if (c == '/') {
      in_part = false;
    } else if ((!in_part && !next_is('/')) || !next_is(c)) {
      return false;
    } else {
      in_part = true;
    }
  }
  if (!line.empty() && line.back() == '/' && !next_is('/')) return false;
  return at == path.size();
}

void append_entry(std::string &chunk, const Text &reply, const Text &status) {
  put_text(chunk, reply);
  put_text(chunk, status);
}

bool next_entry(std::string_view chunk, size_t &pos, Text &reply,
                Text &status) {
  size_t at = pos;
  if (at >= chunk.size() || !read_text(chunk, at, reply) ||
      !read_text(chunk, at, status))
    return false;
  pos = at;
  return true;
}

}  // namespace wire
