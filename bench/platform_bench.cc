// Round-trip costs of the library against a running vornd, next to the
// floor of a raw socket ping-pong between two processes.
//   platform_bench --socket PATH          figures and ratios
//   platform_bench --socket PATH --rss PID  log in, then print PID's VmRSS
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "vornal.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 2000;  // round trips per timed batch
constexpr int kBatches = 5;    // best batch counts: the machine is shared

double us_since(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start)
      .count();
}

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

// The echo side of the floor: 64 bytes in, 200 bytes out, until EOF.
[[noreturn]] void echo_child(int fd) {
  char in[64], out[200];
  memset(out, 'r', sizeof out);
  while (full_io(fd, in, sizeof in, false) &&
         full_io(fd, out, sizeof out, true)) {
  }
  _exit(0);
}

struct Floor {
  int fd = -1;
  pid_t child = -1;
};

// Starts the echo process; call before the library starts any thread.
Floor start_floor() {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) exit(1);
  Floor f;
  f.child = fork();
  if (f.child == 0) {
    close(sv[0]);
    echo_child(sv[1]);
  }
  close(sv[1]);
  f.fd = sv[0];
  return f;
}

// Returns the mean microseconds of one raw 64/200-byte round trip.
double time_floor(const Floor &f) {
  char req[64], rep[200];
  memset(req, 'q', sizeof req);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kRounds; ++i)
    if (!full_io(f.fd, req, sizeof req, true) ||
        !full_io(f.fd, rep, sizeof rep, false))
      exit(1);
  return us_since(start) / kRounds;
}

// Sends one request; returns its reply text (empty when none) and counts a
// missing reply in *failures.
std::string ask(int type, const char *path, const char *param, int *failures) {
  vornal_message *m =
      vornal_send_message(type, nullptr, path, nullptr, param, nullptr);
  char *r = m ? vornal_get_message_reply(m) : nullptr;
  if (!r) ++*failures;
  std::string out = r ? r : "";
  free(r);
  vornal_message_free(m);
  return out;
}

// Returns the mean microseconds of one library get.
double time_get(int *failures) {
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kRounds; ++i) ask(15, "/system", "opt0", failures);
  return us_since(start) / kRounds;
}

// Fetches the whole tree as the shell does: one listing, then one
// description per node. Returns microseconds; *nodes gets the node count.
double time_fetch(size_t *nodes, int *failures) {
  Clock::time_point start = Clock::now();
  std::string listing = ask(17, "/", nullptr, failures);
  size_t count = 0, pos = 0;
  std::string path = "/";
  while (pos < listing.size()) {
    size_t end = listing.find('\n', pos);
    if (end == std::string::npos) end = listing.size();
    path.replace(1, std::string::npos, listing, pos, end - pos);
    ask(18, path.c_str(), nullptr, failures);
    ++count;
    pos = end + 1;
  }
  *nodes = count;
  return us_since(start);
}

// Connects and logs in as the effective user. Exits on failure.
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

// Returns the VmRSS line's value in kB, or -1.
long rss_kb(const char *pid) {
  std::ifstream in(std::string("/proc/") + pid + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  return -1;
}

int run_figures(const char *socket) {
  Floor floor = start_floor();
  login(socket);
  int failures = 0;
  double best_floor = 1e18, best_get = 1e18, best_fetch = 1e18;
  size_t nodes = 0;
  for (int b = 0; b < kBatches; ++b) {
    best_floor = std::min(best_floor, time_floor(floor));
    best_get = std::min(best_get, time_get(&failures));
  }
  for (int b = 0; b < 3; ++b) {
    best_floor = std::min(best_floor, time_floor(floor));
    best_fetch = std::min(best_fetch, time_fetch(&nodes, &failures));
  }
  close(floor.fd);
  waitpid(floor.child, nullptr, 0);
  vornal_disconnect();
  printf("raw ping-pong 64/200 bytes:  %8.2f us per round trip (floor)\n",
         best_floor);
  printf("library get via vornd:       %8.2f us per round trip\n", best_get);
  printf(
      "whole fetch, %zu nodes:     %8.1f ms (1 listing + %zu descriptions)\n",
      nodes, best_fetch / 1000, nodes);
  printf("ratio get / floor:           %8.2f (goal <= 1.3)\n",
         best_get / best_floor);
  printf("ratio fetch / ((N+1) floor): %8.2f (goal <= 1.3)\n",
         best_fetch / ((nodes + 1) * best_floor));
  if (failures) printf("requests without a reply:    %d\n", failures);
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  const char *socket = nullptr, *pid = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--socket") == 0) socket = argv[i + 1];
    if (strcmp(argv[i], "--rss") == 0) pid = argv[i + 1];
  }
  if (!socket) {
    fprintf(stderr, "usage: %s --socket PATH [--rss PID]\n", argv[0]);
    return 2;
  }
  if (!pid) return run_figures(socket);
  login(socket);
  int failures = 0;
  ask(15, "/system", "opt0", &failures);  // a session and a read in place
  long kb = rss_kb(pid);
  vornal_disconnect();
  if (kb < 0 || failures) return 1;
  printf("vornd VmRSS, logged in:      %8.1f MB (goal < 60 MB)\n", kb / 1024.0);
  return 0;
}
