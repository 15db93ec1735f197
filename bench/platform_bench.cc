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

#include "common.h"
#include "vornal.h"

namespace {

using bench::Clock;
using bench::login;
using bench::us_since;
constexpr int kRounds = 2000;  // round trips per timed batch
constexpr int kBatches = 5;    // best batch counts: the machine is shared

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

// Returns the VmRSS line's value in kB, or -1.
long rss_kb(const char *pid) {
  std::ifstream in(std::string("/proc/") + pid + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return atol(line.c_str() + 6);
  return -1;
}

int run_figures(const char *socket) {
  bench::Floor floor = bench::start_floor();
  login(socket);
  int failures = 0;
  double best_floor = 1e18, best_get = 1e18, best_fetch = 1e18;
  size_t nodes = 0;
  for (int b = 0; b < kBatches; ++b) {
    best_floor = std::min(best_floor, bench::time_floor(floor, kRounds));
    best_get = std::min(best_get, time_get(&failures));
  }
  for (int b = 0; b < 3; ++b) {
    best_floor = std::min(best_floor, bench::time_floor(floor, kRounds));
    best_fetch = std::min(best_fetch, time_fetch(&nodes, &failures));
  }
  bench::stop_floor(floor);
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
  const char *socket = bench::option(argc, argv, "--socket");
  const char *pid = bench::option(argc, argv, "--rss");
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
