// Handlers whose commands are not written yet. Each says so with the name of
// the row that was run (list and show share one handler), so that a user
// never mistakes a missing command for one that silently did nothing.
#include <stdio.h>

#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/parser.h"
#include "util/state.h"

namespace {
// Prints the not-implemented line for the row of pc; returns 0.
int not_yet(struct parsed_command *pc, const char *fallback) {
  const char *name = pc ? command_name(pc->command) : nullptr;
  printf("'%s' is not yet implemented.\n", name ? name : fallback);
  // The same status as a row without a handler, so that a script learns
  // that the command did nothing.
  if (!cli_opts.interactive) cli_state.status = -14;
  return 0;
}
}  // namespace

int cmd_create(struct parsed_command *pc) {
  return not_yet(pc, "create");
}
int cmd_delete(struct parsed_command *pc) {
  return not_yet(pc, "delete");
}
int cmd_rename(struct parsed_command *pc) {
  return not_yet(pc, "rename");
}
