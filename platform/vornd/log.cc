#include "vornd/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

namespace vornd {

namespace {

// Returns line with control bytes written as \xHH, so that no text that
// reached the log unquoted can end the line or drive a terminal.
std::string one_line(const char *line) {
  static const char hex[] = "0123456789abcdef";
  std::string s;
  for (const char *p = line; *p; ++p) {
    unsigned char ch = static_cast<unsigned char>(*p);
    if (ch >= 0x20 && ch != 0x7F) {
      s.push_back(*p);
      continue;
    }
    s += "\\x";
    s.push_back(hex[ch >> 4]);
    s.push_back(hex[ch & 15]);
  }
  return s;
}

}  // namespace

void log_event(const char *fmt, ...) {
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  char line[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  fprintf(stderr, "%s vornd: %s\n", stamp, one_line(line).c_str());
}

std::string quoted(std::string_view text) {
  constexpr size_t kShown = 200;  // enough to recognise, short enough to read
  std::string s = wire::describe(std::string(text.substr(0, kShown)));
  if (text.size() > kShown) s += "...";
  return s;
}

}  // namespace vornd
