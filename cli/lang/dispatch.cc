#include "lang/dispatch.h"

#include <stdio.h>

#include "lang/commands.h"
#include "lang/parser.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"

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

void run_command_line(const char *line, int replaying) {
  struct parsed_command *pc = parse_command_line(line, 0);
  if (!pc) return;
  // Every row of the table has a handler; a line without words has no row.
  const cli_command *row = command_row(pc->command);
  if (row && !cli_opts.interactive && row->interactive_only) {
    printf("'%s' only works in interactive mode.\n", row->name);
    cli_state.status = -15;
  } else if (row) {
    int record = !replaying && row->journaled;
    if (record) journal_start_branch();
    row->handler(pc);
    if (record) journal_append(line);
  }
  free_parsed_command(pc);
}
