// Interactive tree load of the shell against a running vornd, next to the
// floor of a raw socket ping-pong between two processes measured in the
// same run, and the memory the loaded tree takes. With --cli, the real
// shell's loads too: a script's `listr /`, the start of an interactive
// shell to its first prompt and a revert, each timed whole.
//   tree_load_bench --socket PATH [--rounds R] [--cli PATH]
#include <fcntl.h>
#include <malloc.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <talloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "common.h"
#include "tree/load.h"
#include "tree/node.h"
#include "util/state.h"
#include "vornal.h"

namespace {

using bench::Clock;
using bench::login;
using bench::us_since;
constexpr int kFloorRounds = 2000;

// Sends one request and drops its reply.
void ask(int type, const char *path) {
  vornal_message *m =
      vornal_send_message(type, nullptr, path, nullptr, nullptr, nullptr);
  free(m ? vornal_get_message_reply(m) : nullptr);
  vornal_message_free(m);
}

// Returns the mean microseconds of one no-op through the library and vornd:
// the floor plus what every request costs both ends, whatever it asks.
double time_noop() {
  Clock::time_point start = Clock::now();
  for (int i = 0; i < kFloorRounds; ++i) ask(VORNAL_MSG_NOOP, nullptr);
  return us_since(start) / kFloorRounds;
}

// Returns microseconds of the same requests as a load, without a tree: the
// listing, then one description per listed line (its text as the path).
double time_bare_fetch() {
  Clock::time_point start = Clock::now();
  vornal_message *m = vornal_send_message(VORNAL_MSG_LIST, nullptr, "/",
                                          nullptr, nullptr, nullptr);
  char *listing = m ? vornal_get_message_reply(m) : nullptr;
  vornal_message_free(m);
  std::string path = "/";
  for (char *line = listing; line && *line;) {
    char *end = strchr(line, '\n');
    path.replace(1, std::string::npos, line, end ? end - line : strlen(line));
    ask(VORNAL_MSG_DESCRIBE, path.c_str());
    line = end ? end + 1 : nullptr;
  }
  free(listing);
  return us_since(start);
}

// Returns a /proc/self/status value in kB ("VmRSS", "VmHWM"), or -1.
long proc_kb(const char *key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0 && line[strlen(key)] == ':')
      return atol(line.c_str() + strlen(key) + 1);
  return -1;
}

// Returns the heap bytes in use (sbrk arena plus mapped blocks).
size_t heap_in_use() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

// Returns the heap bytes that one block of size bytes costs, measured over
// many blocks: through talloc when tallocd, else through malloc.
double block_cost(size_t size, bool tallocd) {
  constexpr int kBlocks = 10000;
  void *ctx = talloc_new(nullptr);
  void *plain[kBlocks];
  size_t before = heap_in_use();
  for (int i = 0; i < kBlocks; i++)
    plain[i] = tallocd ? talloc_size(ctx, size) : malloc(size);
  double cost = double(heap_in_use() - before) / kBlocks;
  if (!tallocd)
    for (void *p : plain) free(p);
  talloc_free(ctx);
  return cost;
}

// Returns the bytes of talloc's header in front of each block: the distance
// between two consecutive 16-byte blocks of a pool, less one block.
long talloc_header_bytes() {
  void *pool = talloc_pool(nullptr, 1024);
  char *a = static_cast<char *>(talloc_size(pool, 16));
  char *b = static_cast<char *>(talloc_size(pool, 16));
  long header = b - a - 16;
  talloc_free(pool);
  return header;
}

// Returns the number of nodes below the root.
long count_nodes(const cli_node *root) {
  long n = 0;
  const cli_node *walk = root->first_child;
  while (walk) {
    n++;
    if (walk->first_child) {
      walk = walk->first_child;
      continue;
    }
    while (walk != root && !walk->next) walk = walk->parent;
    walk = walk == root ? nullptr : walk->next;
  }
  return n;
}

// Returns the process's user plus system CPU time in microseconds.
double cpu_us() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e6 + ru.ru_utime.tv_usec +
         ru.ru_stime.tv_usec;
}

// Prints why the root listing brought no nodes: the daemon's status.
void explain_empty_listing() {
  vornal_message *m = vornal_send_message(VORNAL_MSG_LIST, nullptr, "/",
                                          nullptr, nullptr, nullptr);
  char *status = m ? vornal_get_message_response_status(m) : nullptr;
  printf("nothing loaded: the listing of / answered status %s\n",
         status ? status : "(no reply)");
  free(status);
  vornal_message_free(m);
}

// Returns the microseconds of a whole `cli -T -s socket listr /` run, its
// output thrown away, or -1 when it fails.
double time_listr(const char *cli, const char *socket) {
  Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) _exit(127);
    execl(cli, cli, "-T", "-s", socket, "listr", "/",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) && WEXITSTATUS(st) == 0 ? us_since(start) : -1;
}

// Types a line on the terminal fd; false when it cannot.
bool type_line(int fd, const char *line) {
  size_t n = strlen(line);
  return write(fd, line, n) == static_cast<ssize_t>(n);
}

// Times an interactive shell on a terminal: from its start to the first
// prompt, and a revert of one change to the prompt after it (the tree is
// loaded again). Returns false when the shell does not get there.
bool time_interactive(const char *cli, const char *socket, double &start_us,
                      double &revert_us) {
  int fd = -1;
  Clock::time_point start = Clock::now();
  pid_t pid = forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid < 0) return false;
  if (pid == 0) {
    execl(cli, cli, "-q", "-T", "-s", socket, static_cast<char *>(nullptr));
    _exit(127);
  }
  bool ok = bench::wait_for(fd, "cli -> ", 600);
  start_us = us_since(start);
  ok = ok && type_line(fd, "set /system opt0=7\r") &&
       bench::wait_for(fd, "cli -> ", 60);
  Clock::time_point at = Clock::now();
  ok = ok && type_line(fd, "revert\r") && bench::wait_for(fd, "cli -> ", 600);
  revert_us = us_since(at);
  if (!type_line(fd, "exit!\r") || !ok) kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  close(fd);
  return ok;
}

// Prints one whole-shell figure beside the (N+1) floor and beside the same
// requests without a tree (what the library and vornd take alone).
void print_beside(const char *what, double us, long nodes, double floor_us,
                  double bare_us) {
  printf("%-30s%8.1f ms = %.2f (N+1) floors; shell's share %.2f\n", what,
         us / 1000, us / ((nodes + 1) * floor_us), us / bare_us);
}

// Times the real shell rounds times and prints the best of each figure.
// Needs the daemon's session free: call after logging out.
bool report_shell(const char *cli, const char *socket, int rounds, long nodes,
                  double floor_us, double bare_us) {
  double listr = 1e18, start = 1e18, revert = 1e18;
  for (int r = 0; r < rounds; ++r) {
    double l = time_listr(cli, socket), s = 0, v = 0;
    if (l < 0 || !time_interactive(cli, socket, s, v)) {
      fprintf(stderr, "tree_load_bench: %s did not run through\n", cli);
      return false;
    }
    listr = std::min(listr, l);
    start = std::min(start, s);
    revert = std::min(revert, v);
  }
  printf("the real shell, best of %d:\n", rounds);
  print_beside("  cli listr / (a script):", listr, nodes, floor_us, bare_us);
  print_beside("  start to the first prompt:", start, nodes, floor_us, bare_us);
  print_beside("  revert of one change:", revert, nodes, floor_us, bare_us);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  const char *socket = bench::option(argc, argv, "--socket");
  const char *cli = bench::option(argc, argv, "--cli");
  int rounds = atoi(bench::option(argc, argv, "--rounds", "3"));
  if (!socket || rounds < 1) {
    fprintf(stderr, "usage: %s --socket PATH [--rounds R] [--cli PATH]\n",
            argv[0]);
    return 2;
  }
  bench::Floor floor = bench::start_floor();
  login(socket);
  long rss_before = proc_kb("VmRSS");
  cli_opts.interactive = true;
  double best_floor = 1e18, best_load = 1e18, best_cpu = 1e18;
  double best_bare = 1e18, best_bare_cpu = 1e18, best_noop = 1e18;
  for (int r = 0; r < rounds; ++r) {
    best_floor = std::min(best_floor, bench::time_floor(floor, kFloorRounds));
    best_noop = std::min(best_noop, time_noop());
    double bare_cpu_start = cpu_us();
    best_bare = std::min(best_bare, time_bare_fetch());
    best_bare_cpu = std::min(best_bare_cpu, cpu_us() - bare_cpu_start);
    Clock::time_point start = Clock::now();
    double cpu_start = cpu_us();
    build_tree();
    best_cpu = std::min(best_cpu, cpu_us() - cpu_start);
    best_load = std::min(best_load, us_since(start));
  }
  long nodes = count_nodes(cli_state.root);
  if (nodes == 0) {
    explain_empty_listing();
    return 1;
  }
  size_t heap_with_tree = heap_in_use();
  size_t tree_bytes = talloc_total_size(cli_state.root);
  size_t tree_blocks = talloc_total_blocks(cli_state.root);
  long rss_loaded = proc_kb("VmRSS"), hwm = proc_kb("VmHWM");
  free_tree();
  size_t tree_heap = heap_with_tree - heap_in_use();
  double talloc24 = block_cost(24, true), malloc24 = block_cost(24, false);
  bench::stop_floor(floor);
  ask(VORNAL_MSG_LOGOUT, nullptr);  // the shells below log in after it
  vornal_disconnect();
  printf("raw ping-pong 64/200 bytes:   %8.2f us per round trip (floor)\n",
         best_floor);
  printf("interactive load, %ld nodes: %8.1f ms (best of %d)\n", nodes,
         best_load / 1000, rounds);
  printf("ratio load / ((N+1) floor):   %8.2f (goal <= 0.3 at 100,000)\n",
         best_load / ((nodes + 1) * best_floor));
  // What the floor leaves out, step by step: the library and the daemon's
  // loop (a no-op), the daemon finding N distinct nodes (the same requests
  // without a tree), and last the shell's own share.
  printf("no-op through library, vornd: %8.2f us = %.2f floors\n", best_noop,
         best_noop / best_floor);
  printf("same requests without a tree: %8.1f ms = %.2f (N+1) no-ops\n",
         best_bare / 1000, best_bare / ((nodes + 1) * best_noop));
  printf("the shell's share, load / that: %6.2f; its own work %.1f ms\n",
         best_load / best_bare, (best_load - best_bare) / 1000);
  printf("CPU per request, load / bare: %8.2f / %.2f us\n",
         best_cpu / (nodes + 1), best_bare_cpu / (nodes + 1));
  printf("peak RSS of this loader:      %8.1f MiB (VmHWM)\n", hwm / 1024.0);
  printf("RSS before / with the tree:   %8.1f / %.1f MiB\n",
         rss_before / 1024.0, rss_loaded / 1024.0);
  printf("tree: %zu talloc blocks, %zu payload bytes, %.0f RSS bytes/node\n",
         tree_blocks, tree_bytes,
         nodes ? (rss_loaded - rss_before) * 1024.0 / nodes : 0.0);
  printf("tree heap: %.1f MiB, %.0f bytes/node; payload %.0f bytes/node\n",
         tree_heap / 1048576.0, double(tree_heap) / nodes,
         double(tree_bytes) / nodes);
  printf(
      "a 24-byte block costs %.0f heap bytes through talloc, %.0f through "
      "malloc:\n  talloc's headers alone take %.1f MiB of the tree\n",
      talloc24, malloc24, tree_blocks * (talloc24 - malloc24) / 1048576.0);
  // No allocator can go below payload, talloc's header and malloc's size
  // word per block, so this bounds what the described layout can reach.
  long header = talloc_header_bytes();
  double least = tree_bytes + tree_blocks * (header + sizeof(size_t));
  printf(
      "least this tree can take: %.1f MB (%.1f MiB): payload, plus %ld "
      "bytes of talloc header and %zu of malloc size word per block\n",
      least / 1e6, least / 1048576.0, header, sizeof(size_t));
  if (cli && !report_shell(cli, socket, rounds, nodes, best_floor, best_bare))
    return 1;
  return 0;
}
