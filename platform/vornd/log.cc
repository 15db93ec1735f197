#include "vornd/log.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Returns true when standard error is the journal's stream (systemd names
// it in JOURNAL_STREAM as "device:inode").
bool to_journal() {
  const char *js = getenv("JOURNAL_STREAM");
  struct stat st;
  if (!js || fstat(2, &st) != 0) return false;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) == js;
}

// Writes one line at a syslog priority ("<3>" error, "" plain).
void write_line(const char *priority, const char *fmt, va_list ap) {
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  // Sized to fit: a line of unsaved changes may be long and must be whole.
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(nullptr, 0, fmt, ap);
  std::string line(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  vsnprintf(line.data(), line.size() + 1, fmt, again);
  va_end(again);
  static const bool journal = to_journal();
  fprintf(stderr, "%s%s vornd: %s\n", journal ? priority : "", stamp,
          one_line(line.c_str()).c_str());
}

}  // namespace

void log_event(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  write_line("", fmt, ap);
  va_end(ap);
}

void log_error(const char *fmt, ...) {
  std::string with = std::string("error: ") + fmt;
  va_list ap;
  va_start(ap, fmt);
  write_line("<3>", with.c_str(), ap);
  va_end(ap);
}

void notify_status(const std::string &status) {
  const char *path = getenv("NOTIFY_SOCKET");
  sockaddr_un addr{};
  if (!path || !*path || strlen(path) >= sizeof addr.sun_path) return;
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path, strlen(path));
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  std::string msg = "STATUS=" + one_line(status.c_str());
  ::sendto(
      fd, msg.data(), msg.size(), MSG_NOSIGNAL,
      reinterpret_cast<sockaddr *>(&addr),
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + strlen(path)));
  ::close(fd);
}

std::string quoted(std::string_view text) {
  constexpr size_t kShown = 200;  // enough to recognise, short enough to read
  std::string s = wire::describe(std::string(text.substr(0, kShown)));
  if (text.size() > kShown) s += "...";
  return s;
}

}  // namespace vornd
