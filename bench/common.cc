#include "common.h"

#include <pwd.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vornal.h"

namespace bench {
namespace {

// Reads or writes exactly n bytes; returns false on error or end.
bool full_io(int fd, char *buf, size_t n, bool write_it) {
  while (n > 0) {
    ssize_t k = write_it ? ::write(fd, buf, n) : ::read(fd, buf, n);
    if (k <= 0) return false;
    buf += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

[[noreturn]] void echo_child(int fd) {
  char in[64], out[200];
  memset(out, 'r', sizeof out);
  while (full_io(fd, in, sizeof in, false) &&
         full_io(fd, out, sizeof out, true)) {
  }
  _exit(0);
}

// Pins this process to the CPU named by the environment variable, if set,
// so that the floor's echo side can sit where the daemon sits.
void pin_from_env(const char *name) {
  const char *cpu = getenv(name);
  if (!cpu || !*cpu) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(atoi(cpu), &set);
  sched_setaffinity(0, sizeof set, &set);
}

}  // namespace

double us_since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start)
      .count();
}

Floor start_floor() {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) exit(1);
  Floor f;
  f.child = fork();
  if (f.child == 0) {
    close(sv[0]);
    pin_from_env("BENCH_ECHO_CPU");
    echo_child(sv[1]);
  }
  close(sv[1]);
  f.fd = sv[0];
  return f;
}

double time_floor(const Floor &f, int rounds) {
  char req[64], rep[200];
  memset(req, 'q', sizeof req);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < rounds; ++i)
    if (!full_io(f.fd, req, sizeof req, true) ||
        !full_io(f.fd, rep, sizeof rep, false))
      exit(1);
  return us_since(start) / rounds;
}

void stop_floor(Floor &f) {
  close(f.fd);
  waitpid(f.child, nullptr, 0);
  f = Floor{};
}

const char *option(int argc, char **argv, const char *name,
                   const char *fallback) {
  for (int i = 1; i + 1 < argc; i += 2)
    if (strcmp(argv[i], name) == 0) return argv[i + 1];
  return fallback;
}

bool wait_for(int fd, const char *text, int limit_s) {
  std::string seen;
  Clock::time_point start = Clock::now();
  char buf[4096];
  while (us_since(start) < limit_s * 1e6) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<size_t>(n));
    if (seen.find(text) != std::string::npos) return true;
    if (seen.size() > 8192) seen.erase(0, seen.size() - 64);
  }
  return false;
}

void login(const char *socket) {
  int st = vornal_connect(socket);
  if (st != VORNAL_STATE_CONNECTED) {
    fprintf(stderr, "connect %s: %s\n", socket, vornal_conn_error(st));
    exit(1);
  }
  passwd *pw = getpwuid(geteuid());
  const char *user = pw ? pw->pw_name : "root";
  vornal_message *m =
      vornal_send_message(VORNAL_MSG_LOGIN, "", "", "", user, user);
  char *status = m ? vornal_get_message_response_status(m) : nullptr;
  bool ok = status && strcmp(status, "OK") == 0;
  if (!ok) fprintf(stderr, "login as %s: %s\n", user, status ? status : "-");
  free(status);
  vornal_message_free(m);
  if (!ok) exit(1);
}

}  // namespace bench
