// Cost of showr on a large branch against its round-trip floor: the same
// value requests sent straight through the library, without the outline.
//   show_bench --socket PATH --branch /ports
// The tree is loaded once as on a terminal; the outline goes to /dev/null.
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "common.h"
#include "tree/listing.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

namespace {

using Clock = std::chrono::steady_clock;

// One value request as show sends it: parent path and parameter name.
struct read_request {
  std::string path, name;
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Appends the value requests that showr of node sends, in its order.
void collect(const cli_node *node, std::vector<read_request> *out) {
  for (const cli_node *c = node->first_child; c; c = c->next) {
    if (c->hidden) continue;
    if (c->flags & NODE_OP_GET) {
      char *path = path_of_node(c->parent);
      out->push_back({path, c->name});
      cli_free(path);
    }
    collect(c, out);
  }
}

// Sends every request as get_value does; returns the milliseconds taken
// and counts the ones without a value.
double time_floor(const std::vector<read_request> &reqs, int *lost) {
  Clock::time_point start = Clock::now();
  for (const read_request &r : reqs) {
    vornal_message *m =
        vornal_send_message(VORNAL_MSG_GET, nullptr, r.path.c_str(), nullptr,
                            r.name.c_str(), nullptr);
    if (!m) {
      ++*lost;
      continue;
    }
    free(vornal_get_message_reply(m));
    free(vornal_get_message_response_status(m));
    vornal_message_free(m);
  }
  return ms_since(start);
}

// Runs showr of node with the outline thrown away; returns milliseconds.
double time_show(cli_node *node) {
  fflush(stdout);
  Clock::time_point start = Clock::now();
  print_tree(node, 1, 1);
  fflush(stdout);
  return ms_since(start);
}

}  // namespace

int main(int argc, char **argv) {
  const char *socket = bench::option(argc, argv, "--socket");
  const char *branch = bench::option(argc, argv, "--branch", "/ports");
  if (!socket) {
    fprintf(stderr, "usage: %s --socket PATH [--branch PATH]\n", argv[0]);
    return 2;
  }
  bench::login(socket);
  cli_opts.interactive = true;
  Clock::time_point start = Clock::now();
  build_tree();
  double build_ms = ms_since(start);
  cli_node *node = node_from_path(branch);
  if (!node) {
    fprintf(stderr, "%s is not in the tree\n", branch);
    return 1;
  }
  std::vector<read_request> reqs;
  collect(node, &reqs);
  int saved = dup(1);
  if (!freopen("/dev/null", "w", stdout)) return 1;
  int lost = 0;
  double best_show = 1e18, best_floor = 1e18;
  for (int round = 0; round < 5; ++round) {
    best_floor = std::min(best_floor, time_floor(reqs, &lost));
    best_show = std::min(best_show, time_show(node));
  }
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  free_tree();
  vornal_disconnect();
  FILE *out = fdopen(dup(1), "w");
  fprintf(out, "tree build (terminal start): %8.1f ms\n", build_ms);
  fprintf(out, "showr %s, %zu values:   %8.1f ms\n", branch, reqs.size(),
          best_show);
  fprintf(out, "floor, same %zu gets:       %8.1f ms (%.1f us each)\n",
          reqs.size(), best_floor, 1000 * best_floor / reqs.size());
  fprintf(out, "ratio showr / floor:         %8.2f (goal <= 1.3)\n",
          best_show / best_floor);
  if (lost) fprintf(out, "gets without a handle:       %d\n", lost);
  fclose(out);
  return lost || reqs.empty() ? 1 : 0;
}
