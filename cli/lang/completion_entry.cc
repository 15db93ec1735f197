// The line editor's side of tab completion: it only turns what
// complete_line gives into the editor's calls and variables.
#include <stdlib.h>
#include <string.h>

// clang-format off
#include <stdio.h>
#include <readline/readline.h>
// clang-format on

#include "lang/completion.h"
#include "tree/strlist.h"
#include "util/state.h"

namespace {
// Computes the request for the editor's whole line and keeps its candidates
// for the calls that hand them out.
void start_request(void) {
  strlist_free(&cli_state.completion_matches);
  const char *line = rl_line_buffer ? rl_line_buffer : "";
  completion_result result;
  int refused = complete_line(line, count_completion_request(line), &result);
  cli_state.completion_matches = result.matches;
  cli_state.completion_next = 0;
  cli_state.completion_count = strlist_count(result.matches);
  rl_completion_append_character = result.append;
  // A refused line has printed why: the line is drawn again below that too.
  if (result.output_shown || refused) rl_on_new_line();
}
}  // namespace

char **attempt_completion(const char *text, int, int) {
  rl_attempted_completion_over = 1;  // never fall back to file names
  // Deepest paths first and commands before aliases: shown as gathered.
  rl_sort_completion_matches = 0;
  return rl_completion_matches(text, completion_generator);
}

char *completion_generator(const char *, int state) {
  if (state == 0) start_request();
  if (cli_state.completion_next < cli_state.completion_count)
    return strdup(cli_state.completion_matches[cli_state.completion_next++]);
  strlist_free(&cli_state.completion_matches);
  cli_state.completion_next = 0;
  cli_state.completion_count = 0;
  return nullptr;
}
