#include "lang/dispatch.h"

#include <stdio.h>

#include "commands/journal.h"
#include "lang/commands.h"
#include "lang/parser.h"
#include "util/state.h"

namespace {
// Returns 1 after refusing a row that may not run here (message printed,
// status set as the shell's mode asks), 0 when the row may run.
int refuse_row(const cli_command *row) {
  if (!cli_opts.interactive && row->interactive_only) {
    printf("'%s' only works in interactive mode.\n", row->name);
    cli_state.status = -15;
    return 1;
  }
  if (!row->handler) {
    printf("'%s' is not yet implemented.\n", row->name);
    if (!cli_opts.interactive) cli_state.status = -14;
    return 1;
  }
  return 0;
}
}  // namespace

void run_command_line(const char *line, int replaying) {
  struct parsed_command *pc = parse_command_line(line, 0);
  if (!pc) return;
  const cli_command *row = command_row(pc->command);
  if (row && !refuse_row(row)) {
    int record = !replaying && row->journaled;
    // The branch is taken before the handler: see journal.h.
    if (record) journal_start_branch();
    row->handler(pc);
    if (record) journal_append(line);
  }
  free_parsed_command(pc);
}
