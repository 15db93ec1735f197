#include "shell/connection.h"

#include <stdio.h>

#include "link/login.h"
#include "shell/ask.h"
#include "shell/input.h"
#include "shell/read_loop.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

namespace {
// Prints question (no line end), reads the key and ends the line. Returns
// true for y.
bool ask(const char *question) {
  fputs(question, stdout);
  int key = ask_yes_no();
  putchar('\n');
  return key == 'y';
}

// Restarts the no-ops when the session uses them.
void resume_noops(void) {
  if (cli_opts.noop_interval != 0)
    vornal_set_keep_alive(cli_opts.noop_interval, 0);
}

// Reloads the tree after a new login and stands on branch again (the root
// when it is gone). Returns 0, or 1 when the tree could not be built.
int rebuild_at(const char *branch) {
  free_tree();
  if (build_tree() != 0 || !cli_state.root) return 1;
  if (branch) {
    cli_node *node = node_from_branch(branch);
    cli_state.cwd = node ? node : cli_state.root;
  }
  return 0;
}

// Offers to run the journal again after a reconnection with changes.
void offer_replay(void) {
  if (!cli_state.modified) return;
  bool yes = ask("Would you like to replay uncommitted modifications? y/N");
  // The new login holds none of the old changes until they are replayed.
  cli_state.modified = false;
  if (yes) replay_journal();
}

// Logs in again and restores the tree, the place and the changes. Returns
// 0 when the session can go on.
int reconnect(void) {
  int r = connect_and_login();
  if (r != 0) {
    resume_noops();
    return r;
  }
  char *branch = branch_of_node(cli_state.cwd);
  int failed = rebuild_at(branch);
  cli_free(branch);
  if (failed) return 1;
  // Keys typed ahead keep the event hook from running before the next
  // line, so its note of the loss is cleared here.
  cli_state.connection_lost = 0;
  offer_replay();
  resume_noops();
  return 0;
}
}  // namespace

int check_connection(void) {
  // Scripts first: they never ask, and the state query costs a system call
  // per line.
  if (!cli_opts.interactive || connection_ok()) return 0;
  if (cli_opts.noop_interval != 0) vornal_set_keep_alive(0, 0);
  int state = vornal_get_connection_state();
  if (state == VORNAL_STATE_ENDED)
    puts("Another user has logged in, logging you out.");
  else if (state == VORNAL_STATE_LOST)
    puts("The connection to vornd has timed out or vornd has been killed.");
  if (!ask("Would you like to try to reconnect? y/N")) return 1;
  return reconnect();
}
