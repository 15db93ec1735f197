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
  cli_node *node = node_from_branch(branch);
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

int journal_enter_branch(void) {
  cli_node *start = node_from_branch(cli_state.journal_branch);
  if (!start) {
    puts(
        "Unable to change to the branch that was current when the tree was "
        "first modified.");
    return 1;
  }
  cli_state.cwd = start;
  return 0;
}
