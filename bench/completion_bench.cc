// Whole tab-completion requests on a large tree: the generator run from
// state 0 until it hands out null, as the line editor runs it, with the
// heap in use before and after each request.
//   completion_bench --socket PATH [--rounds R]
// The tree is loaded once as on a terminal; printed values go to /dev/null.
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// clang-format off
#include <readline/readline.h>
// clang-format on

#include <algorithm>
#include <string>
#include <vector>

#include "common.h"
#include "lang/completion.h"
#include "tree/load.h"
#include "tree/node.h"
#include "util/state.h"
#include "vornal.h"

namespace {

// One line with its goal for the median, in milliseconds.
struct bench_line {
  const char *line;
  double goal_ms;
};

// Returns the heap bytes in use (sbrk arena plus mapped blocks).
long heap_in_use() {
  struct mallinfo2 mi = mallinfo2();
  return long(mi.uordblks + mi.hblkhd);
}

// Runs one whole request on line; returns its microseconds, the candidates
// handed out and the heap growth that outlived it.
double one_request(const char *line, int *handed, long *kept) {
  static char buffer[256];
  snprintf(buffer, sizeof buffer, "%s", line);
  rl_line_buffer = buffer;
  // Every round is a fresh request, as after typing.
  cli_state.typed_since_mark = true;
  long before = heap_in_use();
  bench::Clock::time_point start = bench::Clock::now();
  *handed = 0;
  for (int state = 0;; state++) {
    char *text = completion_generator(buffer, state);
    if (!text) break;
    ++*handed;
    free(text);  // the editor's part
  }
  double us = bench::us_since(start);
  *kept = heap_in_use() - before;
  return us;
}

// Times rounds requests of c and prints the median; returns 1 when any
// request left heap behind or offered nothing.
int run_line(const bench_line &c, int rounds, FILE *out) {
  std::vector<double> us;
  int handed = 0;
  long kept = 0, worst = 0;
  one_request(c.line, &handed, &kept);  // warm-up: the first copy of the line
  for (int r = 0; r < rounds; r++) {
    us.push_back(one_request(c.line, &handed, &kept));
    worst = std::max(worst, kept);
  }
  std::sort(us.begin(), us.end());
  double median = us[us.size() / 2] / 1000;
  fprintf(out,
          "%-28s %7d candidates  median %7.2f ms  max %7.2f ms"
          "  (goal <= %g)  heap kept %ld B\n",
          ("\"" + std::string(c.line) + "\"").c_str(), handed, median,
          us.back() / 1000, c.goal_ms, worst);
  return worst > 0 || handed == 0;
}

}  // namespace

int main(int argc, char **argv) {
  const char *socket = bench::option(argc, argv, "--socket");
  int rounds = atoi(bench::option(argc, argv, "--rounds", "21"));
  if (!socket || rounds < 1) {
    fprintf(stderr, "usage: %s --socket PATH [--rounds R]\n", argv[0]);
    return 2;
  }
  bench::login(socket);
  cli_opts.interactive = true;
  if (build_tree() != 0) return 1;
  const bench_line lines[] = {
      {"", 30},
      {"cd ", 150},
      {"set /ports/p99", 30},
      {"set /ports/p99 speed=", 30},
  };
  FILE *out = fdopen(dup(1), "w");
  if (!out || !freopen("/dev/null", "w", stdout)) return 1;
  int failed = 0;
  for (const bench_line &c : lines) failed |= run_line(c, rounds, out);
  fflush(stdout);
  release_completion_line();
  free_tree();
  vornal_disconnect();
  fclose(out);
  return failed;
}
