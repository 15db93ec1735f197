#include "vornd/limits.h"

#include <cstdint>

namespace vornd {
namespace {

// Longest pattern that the help line writes out; a longer one says less to
// a reader than the model's own help text.
constexpr size_t kShortPattern = 40;

// Reads 1 to max_digits decimal digits at s[i], without a leading zero
// unless the number is 0, into v. Returns the index after them, or 0.
size_t read_number(std::string_view s, size_t i, size_t max_digits,
                   unsigned &v) {
  size_t start = i;
  v = 0;
  while (i < s.size() && i - start < max_digits && s[i] >= '0' && s[i] <= '9')
    v = v * 10 + static_cast<unsigned>(s[i++] - '0');
  if (i == start || (s[start] == '0' && i - start > 1)) return 0;
  return i;
}

// Reads a dotted quad (each part 0 to 255) at the start of s into addr.
// Returns the bytes read, or 0 when s does not begin with one.
size_t read_ipv4(std::string_view s, uint32_t &addr) {
  size_t i = 0;
  addr = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (i >= s.size() || s[i++] != '.')) return 0;
    unsigned v;
    i = read_number(s, i, 3, v);
    if (i == 0 || v > 255) return 0;
    addr = addr << 8 | v;
  }
  return i;
}

// Returns true when s is an address, "/" and a prefix length of 0 to 32;
// with network set the address's host bits must be zero as well.
bool prefix_ok(std::string_view s, bool network) {
  uint32_t addr;
  size_t i = read_ipv4(s, addr);
  if (i == 0 || i >= s.size() || s[i] != '/') return false;
  unsigned len;
  i = read_number(s, i + 1, 2, len);
  if (i != s.size() || len > 32) return false;
  uint32_t host = len == 32 ? 0 : 0xffffffffu >> len;
  return !network || (addr & host) == 0;
}

// Returns the format in words, as the help line and refusals name it.
std::string format_words(Format f) {
  switch (f) {
    case Format::ipv4:
      return "IPv4 address (a.b.c.d)";
    case Format::ipv4_prefix:
      return "IPv4 address with prefix length (a.b.c.d/n)";
    case Format::ipv4_network:
      return "IPv4 network (a.b.c.d/n, host bits zero)";
    case Format::none:
      break;
  }
  return "text";
}

std::string joined(const std::vector<std::string> &items) {
  std::string out;
  for (const std::string &s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

std::string integer_words(const Def &d) {
  bool lo = d.min != INT64_MIN, hi = d.max != INT64_MAX;
  std::string a = std::to_string(d.min), b = std::to_string(d.max);
  if (lo && hi) return "Integer from " + a + " to " + b;
  if (lo) return "Integer of at least " + a;
  if (hi) return "Integer of at most " + b;
  return "Integer";
}

// Returns the length bounds of a string in words, with a leading blank.
std::string length_words(const Def &d) {
  std::string a = std::to_string(d.min_len), b = std::to_string(d.max_len);
  bool hi = d.max_len != UINT32_MAX;
  if (d.min_len > 0 && hi) return " of " + a + " to " + b + " bytes";
  if (hi) return " of at most " + b + " bytes";
  if (d.min_len > 0) return " of at least " + a + " bytes";
  return "";
}

std::string string_words(const Def &d) {
  std::string s;
  if (!d.matches.empty()) {
    s = "Name of an entry of " + d.matches;
  } else if (d.format != Format::none) {
    s = format_words(d.format) + (d.min_len == 0 ? ", or empty" : "");
  } else {
    s = "Text" + length_words(d);
    if (!d.pattern_text.empty())
      s += d.pattern_text.size() <= kShortPattern
               ? " matching " + d.pattern_text
               : std::string(" of a fixed form");
  }
  if (!d.choices.empty()) s += "; for example " + joined(d.choices);
  return s;
}

}  // namespace

std::optional<Format> parse_format(std::string_view name) {
  if (name == "ipv4") return Format::ipv4;
  if (name == "ipv4-prefix") return Format::ipv4_prefix;
  if (name == "ipv4-network") return Format::ipv4_network;
  return std::nullopt;
}

bool format_ok(Format f, std::string_view text) {
  uint32_t addr;
  switch (f) {
    case Format::ipv4:
      return read_ipv4(text, addr) == text.size() && !text.empty();
    case Format::ipv4_prefix:
      return prefix_ok(text, false);
    case Format::ipv4_network:
      return prefix_ok(text, true);
    case Format::none:
      break;
  }
  return true;
}

std::string check_entry_name(const Def &list, std::string_view name) {
  if (format_ok(list.name_format, name)) return "";
  return "not an " + format_words(list.name_format);
}

std::string limits_line(const Def &d) {
  std::string s;
  switch (d.type) {
    case Type::none:
      if (d.name_format == Format::none) return "";
      return "Entries are named by " + format_words(d.name_format) + ".";
    case Type::integer:
      s = integer_words(d);
      break;
    case Type::boolean:
      s = "Boolean: true or false";
      break;
    case Type::choice:
      s = "One of " + joined(d.choices);
      break;
    case Type::string:
      s = string_words(d);
      break;
  }
  if (!(d.ops & kSet)) return s + "; read-only.";
  return s + "; default " + (d.fallback.empty() ? "empty" : d.fallback) + ".";
}

}  // namespace vornd
