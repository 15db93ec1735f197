#include "trace.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vornal::trace {
namespace {

std::atomic<bool> g_on{false};

}  // namespace

void enable(bool on) {
  g_on.store(on, std::memory_order_relaxed);
}

bool enabled() {
  return g_on.load(std::memory_order_relaxed);
}

std::string request_line(const wire::Request &r) {
  std::string s = "vornal: send #" + std::to_string(r.id) + " type " +
                  std::to_string(r.type) + " (";
  for (size_t i = 0; i < r.args.size(); ++i) {
    if (i) s += ", ";
    s += wire::describe(r.args[i]);
  }
  s += ")\n";
  return s;
}

std::string reply_line(const wire::Reply &r) {
  return "vornal: recv #" + std::to_string(r.id) + " reply " +
         wire::describe(r.reply) + " status " + wire::describe(r.status) + "\n";
}

std::string notice_line(const wire::Notice &n) {
  return "vornal: recv notice " + std::to_string(n.code) + " " +
         wire::describe(n.text) + "\n";
}

std::string marked(std::string line, std::string_view mark) {
  if (mark.empty()) return line;
  bool end = !line.empty() && line.back() == '\n';
  if (end) line.pop_back();
  line.append(" (").append(mark).append(end ? ")\n" : ")");
  return line;
}

void emit(std::string_view line) {
  if (!enabled()) return;
  while (!line.empty()) {
    ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line.remove_prefix(static_cast<size_t>(n));
  }
}

void event(std::string_view what) {
  if (!enabled()) return;
  std::string line = "vornal: ";
  line.append(what);
  line.push_back('\n');
  emit(line);
}

}  // namespace vornal::trace
