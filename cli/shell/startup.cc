#include "shell/startup.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "link/login.h"
#include "shell/greeting.h"
#include "shell/interrupt.h"
#include "shell/options.h"
#include "shell/queue.h"
#include "shell/read_loop.h"
#include "shell/teardown.h"
#include "tree/load.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornal.h"

namespace {

// Returns true when the -f file, not "-", is where commands come from.
bool reads_named_file(int word_count) {
  return word_count == 0 && cli_state.input_file &&
         strcmp(cli_state.input_file, "-") != 0;
}

// Prints why the -f file cannot be read. Returns STATUS_NO_INPUT.
int report_input_file(void) {
  printf("cli: cannot open %s: %s\n", cli_state.input_file, strerror(errno));
  return STATUS_NO_INPUT;
}

// Checks what must hold before anything is sent. Returns 0 or a status.
int check_before_connect(int word_count) {
  if (!cli_state.user) {
    puts("cli: cannot determine the user name; use -U or CLI_USER");
    return STATUS_NO_USER;
  }
  if (reads_named_file(word_count)) {
    FILE *f = fopen(cli_state.input_file, "r");
    if (!f) return report_input_file();
    fclose(f);
  }
  return 0;
}

// Queues the command words as one line, or points standard input at the -f
// file. Returns 0 or a status.
int choose_command_source(int word_count, char **words) {
  if (word_count > 0) {
    char *line = join_words(" ", words, word_count);
    int r = line ? queue_command(line) : 1;
    cli_free(line);
    return r;
  }
  if (reads_named_file(word_count) &&
      !freopen(cli_state.input_file, "r", stdin))
    return report_input_file();
  return 0;
}

// Everything between login and the end of the session.
void run_session(void) {
  // Scripts load what they need per command; a terminal gets the whole tree
  // before the keep-alive starts.
  if (cli_opts.interactive) cli_state.status = build_tree();
  if (cli_opts.noop_interval != 0)
    vornal_set_keep_alive(cli_opts.noop_interval, 0);
  if (interrupt_pending()) act_on_interrupt();
  if (cli_state.status == 0) read_loop();
}

}  // namespace

int cli_main(int argc, char **argv) {
  int r = parse_options(argc, argv);
  if (r != 0) {
    release_session_texts();
    return r == OPTIONS_DONE ? 0 : r;
  }
  int word_count = argc - optind;
  char **words = argv + optind;
  cli_opts.interactive = word_count == 0 && !cli_state.input_file && isatty(0);
  cli_state.status = check_before_connect(word_count);
  if (cli_state.status != 0) {
    release_session_texts();
    return cli_state.status;
  }
  if (cli_opts.interactive && !cli_state.quiet) show_greeting();
  install_interrupt_handler();
  cli_state.status = connect_and_login();
  if (interrupt_pending()) act_on_interrupt();
  if (cli_state.status != 0) {
    // Nothing to log out of: only the texts go.
    release_session_texts();
    return cli_state.status;
  }
  int source = choose_command_source(word_count, words);
  if (source != 0)
    cli_state.status = source;
  else
    run_session();
  end_session();
  return cli_state.status;
}
