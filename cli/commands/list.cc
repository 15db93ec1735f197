// list, listr, show and showr: the outline of a node, rebuilt from the
// daemon first when the shell runs a script.
#include <stdio.h>
#include <string.h>

#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/parser.h"
#include "tree/listing.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"

namespace {

// Rebuilds the tree and resolves the command's path into pc->target.
// Returns 0, or -1 after reporting a path that does not resolve completely.
// Any rest is refused, a lone separator too: a doubled separator (/system//)
// leaves one, and only a path joined with a name may end that way.
int resolve_fresh_target(struct parsed_command *pc) {
  build_tree();
  char *prefix = nullptr;
  char *rest = cli_strdup(pc->path ? pc->path : "/");
  cli_node *node = resolve_path_prefix(&prefix, &rest);
  bool whole = !rest || !*rest;
  cli_free(prefix);
  cli_free(rest);
  if (!whole) {
    printf("%s is not a valid path.\n", pc->path);
    cli_state.status = -13;
    return -1;
  }
  pc->target = node;
  return 0;
}

// Returns 1 when the command's row is show or showr.
int shows_values(const struct parsed_command *pc) {
  return pc->command == lookup_command("show") ||
         pc->command == lookup_command("showr");
}

// Prints the outline of the command's target (built afresh from the daemon
// in a non-interactive shell), with values for show and showr. Returns 0.
int list_or_show(struct parsed_command *pc, int recursive) {
  if (!cli_opts.interactive && resolve_fresh_target(pc) != 0) return 0;
  print_tree(pc->target, shows_values(pc), recursive);
  return 0;
}

}  // namespace

int cmd_list(struct parsed_command *pc) {
  return list_or_show(pc, 0);
}

int cmd_listr(struct parsed_command *pc) {
  return list_or_show(pc, 1);
}
