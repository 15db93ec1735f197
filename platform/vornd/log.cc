#include "vornd/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace vornd {

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
  fprintf(stderr, "%s vornd: %s\n", stamp, line);
}

}  // namespace vornd
