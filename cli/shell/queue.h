// The queue of command lines waiting to be run (the command given on the
// shell's own command line).
#pragma once

// Appends a plain heap copy of text to cli_state.command_queue and sets
// cli_state.use_queue. Returns 0, or 1 when memory runs out.
int queue_command(const char *text);

// Returns the first queued text (the caller releases it with free) and drops
// its entry, or null when the queue is empty.
char *dequeue_command(void);

// Releases every entry still queued.
void clear_command_queue(void);
