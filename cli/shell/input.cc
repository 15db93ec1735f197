#include "shell/input.h"

#include <errno.h>
#include <unistd.h>

// clang-format off
#include <readline/readline.h>
// clang-format on

#include "lang/completion.h"
#include "shell/interrupt.h"
#include "util/state.h"
#include "vornal.h"

namespace {
// Script input buffer. Only the read loop's thread touches it.
unsigned char script_buffer[65536];
size_t script_pos = 0;
size_t script_len = 0;

// Records a key for the interrupt rule; returns the key.
int mark_key(int key) {
  if (key != '\t') cli_state.typed_since_mark = true;
  return key;
}

// Handles an interrupt seen while the editor waits: returns only after the
// warning, and then draws the prompt and the line typed so far again.
void interrupt_in_editor(void) {
  act_on_interrupt();
  rl_redisplay();
}

// Reports whether script keys are waiting without a system call, so that
// the editor's look-ahead for key sequences costs nothing.
int script_input_available(void) {
  return script_pos < script_len;
}

// The editor must not draw anything for scripts: the read loop echoes each
// line itself.
void draw_nothing(void) {}
}  // namespace

bool connection_ok(void) {
  return vornal_get_connection_state() > 4;
}

void setup_readline(void) {
  if (cli_state.readline_ready || !cli_opts.interactive) return;
  cli_state.readline_ready = 1;
  rl_initialize();
  rl_catch_signals = 0;
  rl_readline_name = "cli";
  rl_attempted_completion_function = attempt_completion;
  // Editor commands that skip the entry above reach the same generator:
  // no route offers file names.
  rl_completion_entry_function = completion_generator;
  rl_getc_function = input_getc;
  rl_event_hook = input_event_hook;
}

void setup_script_input(void) {
  if (cli_state.readline_ready || cli_opts.interactive) return;
  cli_state.readline_ready = 1;
  rl_catch_signals = 0;
  rl_catch_sigwinch = 0;
  rl_readline_name = "cli";
  rl_initialize();
  // A TAB in a script is part of the line, not a completion request.
  rl_bind_key('\t', rl_insert);
  rl_getc_function = script_getc;
  rl_input_available_hook = script_input_available;
  rl_redisplay_function = draw_nothing;
  // Standard input is no terminal: there are no modes to set or restore.
  rl_prep_term_function = nullptr;
  rl_deprep_term_function = nullptr;
}

int input_event_hook(void) {
  if (interrupt_pending()) interrupt_in_editor();
  if (input_terminal_gone()) {
    rl_done = 1;
    return 0;
  }
  cli_state.connection_lost = !connection_ok();
  if (cli_state.connection_lost) rl_done = 1;
  return 0;
}

int input_getc(FILE *stream) {
  for (;;) {
    int w = wait_for_input(fileno(stream));
    if (w == 0) {
      interrupt_in_editor();
      continue;
    }
    // ctrl-D arrives as a key; an end of input or a read error (readline
    // gives EOF or a negative code) means the terminal has gone.
    int key = w < 0 ? EOF : rl_getc(stream);
    if (key >= 0) return mark_key(key);
    cli_state.terminal_lost = true;
    return EOF;
  }
}

int script_getc(FILE *stream) {
  while (script_pos >= script_len) {
    // Wait before reading: a read restarted after ctrl-c would sleep until
    // the next line, and without a terminal ctrl-c ends the run at once.
    int w = wait_for_input(fileno(stream));
    if (w == 0) {
      act_on_interrupt();  // returns only after a warning
      continue;
    }
    if (w < 0) return EOF;
    ssize_t n = read(fileno(stream), script_buffer, sizeof script_buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return EOF;
    script_pos = 0;
    script_len = (size_t)n;
  }
  // Script keys are no typing: they never hold back the end on ctrl-c.
  return script_buffer[script_pos++];
}

bool input_terminal_gone(void) {
  if (!cli_state.terminal_lost && cli_opts.interactive)
    // Readline's own wait cannot tell a hung-up terminal: it sees a
    // readable descriptor with no bytes, skips the key reader and calls the
    // event hook again at once, for ever.
    cli_state.terminal_lost = terminal_hung_up(0);
  return cli_state.terminal_lost;
}
