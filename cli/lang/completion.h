// Tab completion: the candidates for the whole line typed so far, with the
// daemon's help text or the parameter's current value shown where they
// help. complete_line does the work; the entry points below it only hand
// its result to the line editor.
#pragma once

struct cli_node;
struct parsed_command;

// What one completion request yields.
struct completion_result {
  char **matches;    // string list in gathered order, the caller's to free
  char append;       // the character appended after a lone candidate
  int output_shown;  // something was printed: the line must be drawn again
};

// Returns a string list of the candidates of one word kind for command cmd
// and the unfinished word partial (or null), below node (the current node
// when null); null when there are none. Free it with strlist_free.
char **completion_candidates(unsigned kind, int cmd, const char *partial,
                             struct cli_node *node);

// Completes line (tries: requests in a row on it, 1 for a fresh one) into
// *out, printing the help text or the current value where they apply.
// Returns 0, or 1 when the parser refused the line and said why.
int complete_line(const char *line, int tries, struct completion_result *out);

// Counts a completion request for line: a repeat when nothing but TAB was
// typed since the last one and the line is the same. Clears the typing
// mark. Returns cli_state.completion_tries.
int count_completion_request(const char *line);

// The line editor's completion entry: returns the candidates for the whole
// line (an array the editor releases), never file names.
char **attempt_completion(const char *text, int start, int end);

// The editor's generator: state 0 computes the request; every call hands
// out the next candidate as a strdup copy, then null at the end.
char *completion_generator(const char *text, int state);

// Releases cli_state.completion_line; run once when the shell ends.
void release_completion_line(void);

// Returns the decoded help text for pc's path (and its last parameter word),
// the not-available text when the daemon refuses, or null when nothing came
// back; release it with cli_free. The help command (commands/) provides it.
char *help_text(struct parsed_command *pc);
