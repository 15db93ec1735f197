#include "commands/journal.h"

#include <stdio.h>

#include "commands/handlers.h"
#include "lang/dispatch.h"
#include "tree/load.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

void journal_start_branch(void) {
  if (strlist_count(cli_state.journal) > 0) return;
  cli_free(cli_state.journal_branch);
  cli_state.journal_branch = branch_of_node(cli_state.cwd);
}

void journal_append(const char *line) {
  char *copy = cli_strdup(line);
  if (copy && strlist_append(&cli_state.journal, copy) != 0) cli_free(copy);
}

void journal_clear(void) {
  strlist_free(&cli_state.journal);
}

int cmd_commit(struct parsed_command *) {
  if (!cli_state.modified) {
    puts("No changes to commit.");
    return 0;
  }
  vornal_message *m = vornal_send_message(VORNAL_MSG_COMMIT, nullptr, nullptr,
                                          nullptr, nullptr, nullptr);
  journal_clear();
  vornal_message_free(m);
  cli_state.modified = false;
  puts("Changes committed.");
  return 0;
}

namespace {
// Rebuilds the tree after a revert and stands on branch again when it still
// exists, else on the root.
void reload_at(const char *branch) {
  build_tree();
  if (!branch) return;
  cli_node *node = node_from_path(branch);
  if (node) cli_state.cwd = node;
}
}  // namespace

int cmd_revert(struct parsed_command *) {
  char *branch = branch_of_node(cli_state.cwd);
  if (!cli_state.modified) {
    puts("Nothing to revert.");
    cli_free(branch);
    return 0;
  }
  vornal_message *m =
      vornal_send_message(VORNAL_MSG_REVERT, "", "", "", "", "");
  vornal_message_free(m);
  if (cli_opts.interactive) reload_at(branch);
  cli_state.modified = false;
  journal_clear();
  cli_free(branch);
  return 0;
}

namespace {
// Returns the node that branch names from the root (the root for null).
cli_node *node_below_root(const char *branch) {
  if (!branch) return cli_state.root;
  cli_node *here = cli_state.cwd;
  cli_state.cwd = cli_state.root;
  cli_node *node = node_from_path(branch);
  cli_state.cwd = here;
  return node;
}
}  // namespace

void replay_journal(void) {
  cli_node *start = node_below_root(cli_state.journal_branch);
  if (!start) {
    puts(
        "Unable to change to the branch that was current when the tree was "
        "first modified.");
    return;
  }
  cli_state.cwd = start;
  // The count is read each time: a replayed line never adds to the journal,
  // but the bound must hold whatever a handler does.
  for (int i = 0; i < strlist_count(cli_state.journal); i++) {
    printf("\nReplaying: %s\n", cli_state.journal[i]);
    run_command_line(cli_state.journal[i], 1);
  }
}
