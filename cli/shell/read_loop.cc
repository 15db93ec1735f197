#include "shell/read_loop.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// clang-format off
#include <readline/readline.h>
#include <readline/history.h>
// clang-format on

#include "commands/handlers.h"
#include "commands/journal.h"
#include "lang/dispatch.h"
#include "shell/connection.h"
#include "shell/input.h"
#include "shell/interrupt.h"
#include "shell/queue.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

char *build_prompt(void) {
  if (cli_state.cwd == cli_state.root) return cli_strdup("cli -> ");
  char *branch = branch_of_node(cli_state.cwd);
  if (!branch) return cli_strdup("cli -> ");
  // The branch ends with the separator, which the prompt leaves out.
  size_t len = strlen(branch) - strlen(cli_opts.separator);
  char *prompt = cli_strndup(branch, len);
  cli_free(branch);
  if (prompt && cli_extend(&prompt, " -> ") != 0) {
    cli_free(prompt);
    prompt = nullptr;
  }
  return prompt;
}

namespace {
// Reads lines on the terminal until one is not empty, the connection is
// gone, or the terminal itself has gone. Returns it (free) or null.
char *read_terminal_line(const char *prompt) {
  for (;;) {
    char *line = readline(prompt);
    if (line && *line) return line;
    if (!connection_ok() || input_terminal_gone()) return line;
    free(line);
  }
}
}  // namespace

char *read_command_line(void) {
  char *prompt = build_prompt();
  const char *shown = prompt ? prompt : "cli -> ";
  char *line;
  if (cli_opts.interactive) {
    line = read_terminal_line(shown);
  } else {
    line = readline("");
    if (line) printf("%s%s\n", shown, line);
  }
  cli_free(prompt);
  return line;
}

char *next_command_line(void) {
  return cli_state.use_queue ? dequeue_command() : read_command_line();
}

void replay_journal(void) {
  if (journal_enter_branch() != 0) return;
  // The count is read each time: a replayed line never adds to the journal,
  // but the bound must hold whatever a handler does.
  for (int i = 0; i < strlist_count(cli_state.journal); i++) {
    printf("\nReplaying: %s\n", cli_state.journal[i]);
    run_command_line(cli_state.journal[i], 1);
  }
}

namespace {
// Runs one line that was read whole. Returns its length.
size_t run_line(char *line) {
  size_t len = strlen(line);
  // Only overdue no-ops make a connection hung: without them there is
  // nothing to ask.
  if (cli_opts.noop_interval != 0 &&
      vornal_get_connection_state() == VORNAL_STATE_HUNG)
    puts("WARNING: The connection to vorn appear to be hung.");
  run_command_line(line, 0);
  if (cli_opts.interactive) add_history(line);
  return len;
}

// The end of the session: commit with -C, or say that changes stay unsaved.
// A lost terminal ends like a hangup: nobody confirmed the changes and
// nobody would see the notice, so neither happens.
void finish_changes(void) {
  if (!cli_state.modified || !connection_ok() || cli_state.discard_changes ||
      cli_state.terminal_lost)
    return;
  if (cli_state.autocommit)
    cmd_commit(nullptr);
  else
    puts("No autocommit - changes not saved.");
}
}  // namespace

void read_loop(void) {
  setup_readline();
  setup_script_input();
  for (;;) {
    char *line = next_command_line();
    size_t len = 0;
    // ctrl-c while the line was read comes before the line: a script may
    // have read the next line in the same system call.
    if (interrupt_pending()) act_on_interrupt();
    // A line cut short by a lost connection or terminal is dropped.
    if (line && !cli_state.connection_lost && !cli_state.terminal_lost)
      len = run_line(line);
    free(line);
    // An interrupt during a command is acted on between lines.
    if (interrupt_pending()) act_on_interrupt();
    // A terminal that has gone cannot answer the reconnect question.
    if (input_terminal_gone() || check_connection() != 0)
      cli_state.exit_requested = true;
    if (cli_state.exit_requested) break;
    if (len == 0 && !cli_opts.interactive) break;
  }
  finish_changes();
}
