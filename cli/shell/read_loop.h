// The read loop: one command line at a time from the queue, the terminal
// or a script, each handed to the dispatcher, then the connection check;
// and the end-of-session autocommit rule.
#pragma once

// Returns the prompt for the current node: "cli -> " at the root, else the
// branch without its last separator followed by " -> ". An allocator text
// the caller releases with cli_free; null when memory runs out.
char *build_prompt(void);

// Returns the next line from the line editor (released with free), or null
// at the end of the input. Echoes script lines after the prompt.
char *read_command_line(void);

// Returns the next queued command when the queue is in use, else the next
// line read. Released by the caller with free; null at the end.
char *next_command_line(void);

// Runs lines until exit, a lost connection that stays lost, or the end of a
// script; then commits with -C or reports the changes left unsaved.
void read_loop(void);

// Runs every journal line again from the journal's branch, without
// recording them again. Prints why and runs nothing when the branch is gone.
void replay_journal(void);
