// Handlers whose commands are not written yet. Each says so with the name of
// the row that was run (list and show share one handler), so that a user
// never mistakes a missing command for one that silently did nothing.
#include <stdio.h>

#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/parser.h"

namespace {
// Prints the not-implemented line for the row of pc; returns 0.
int not_yet(struct parsed_command *pc, const char *fallback) {
  const char *name = pc ? command_name(pc->command) : nullptr;
  printf("'%s' is not yet implemented.\n", name ? name : fallback);
  return 0;
}
}  // namespace

int cmd_commit(struct parsed_command *pc) {
  return not_yet(pc, "commit");
}
int cmd_create(struct parsed_command *pc) {
  return not_yet(pc, "create");
}
int cmd_delete(struct parsed_command *pc) {
  return not_yet(pc, "delete");
}
int cmd_exit(struct parsed_command *pc) {
  return not_yet(pc, "exit");
}
int cmd_exit_force(struct parsed_command *pc) {
  return not_yet(pc, "exit!");
}
int cmd_rename(struct parsed_command *pc) {
  return not_yet(pc, "rename");
}
int cmd_revert(struct parsed_command *pc) {
  return not_yet(pc, "revert");
}
