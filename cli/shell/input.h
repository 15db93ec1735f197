// The line editor glue: set-up, the event hook that watches the connection
// while the user types, and the key readers for a terminal and for scripts.
#pragma once

#include <stdio.h>

// Returns true when the connection to the daemon is usable (state above 4).
bool connection_ok(void);

// One-time line editor set-up for a terminal; does nothing for scripts or
// when already done.
void setup_readline(void);

// One-time line editor set-up for a script on standard input: keys come
// from a buffer filled by large reads, and the editor neither draws nor
// touches signals or terminal modes.
void setup_script_input(void);

// The line editor's event hook: notes a lost connection in
// cli_state.connection_lost and ends the line being typed. Returns 0.
int input_event_hook(void);

// The terminal key reader: returns the next key of stream (EOF at the end),
// marking every key but TAB in cli_state.typed_since_mark. Acts on an
// interrupt that arrives while it waits.
int input_getc(FILE *stream);

// The script key reader: like input_getc, from a buffer refilled with one
// read(2) of up to 64 KiB when empty.
int script_getc(FILE *stream);

// Returns true once the terminal has yielded a real end of input (it hung
// up), which ctrl-D never does.
bool input_terminal_gone(void);
