// The single-key yes/no question.
#pragma once

// Reads one key from the terminal on standard input without echo or line
// editing (ctrl-c still interrupts). Returns the key lower-cased, or 1 when
// the terminal cannot be read or set up, or has gone away.
int ask_yes_no(void);
