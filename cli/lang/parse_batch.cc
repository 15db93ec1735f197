// The non-interactive parser: no tree to look at, so words are marked by
// their form and the unmarked ones placed from the right by the grammar.
#include <stdio.h>
#include <string.h>
#include <talloc.h>

#include "lang/commands.h"
#include "lang/grammar.h"
#include "lang/parser.h"
#include "util/alloc.h"
#include "util/state.h"

namespace {
// Returns the kind a word's form gives it, or 0 for an unmarked word.
unsigned kind_by_form(const char *word) {
  if (strchr(word, '=')) return KIND_PARAMETER;
  if (word[0] == '-') return KIND_OPTION;
  if (word[0] == '.' || word[0] == cli_opts.separator[0]) return KIND_PATH;
  return 0;
}

// Gives the last run of unmarked words its kinds from the right. Returns 0,
// or 1 when the grammar cannot place one of them (nothing printed).
int place_last_run(int cmd, unsigned *kinds, int count) {
  int last = count - 1;
  while (last > 0 && kinds[last] != 0) last--;
  if (last == 0) return 0;
  unsigned after = 0;
  for (int i = last; i > 0 && kinds[i] == 0; i--) {
    after = kind_before(cmd, after);
    if (after == 0) return 1;
    kinds[i] = after;
  }
  return 0;
}

// Returns 1 when some word after the command has the given kind.
int has_kind(const unsigned *kinds, int count, unsigned kind) {
  for (int i = 1; i < count; i++)
    if (kinds[i] == kind) return 1;
  return 0;
}

// Checks the required words; prints the usage error, sets the status and
// returns 1 when one is missing.
int check_required(const struct parsed_command *pc, char **words,
                   const unsigned *kinds, int count) {
  for (unsigned r = required_kind_before(pc->command, 0); r != 0;
       r = required_kind_before(pc->command, r)) {
    if (has_kind(kinds, count, r)) continue;
    char *usage = command_usage(pc->command);
    printf("Parse error: %s takes the following parameters: %s\n", words[0],
           usage ? usage : "");
    cli_free(usage);
    cli_state.status = -17;
    return 1;
  }
  return 0;
}
}  // namespace

int parse_words_batch(struct parsed_command *pc, char **words, int count) {
  if (count == 0) {
    pc->expected = KIND_COMMAND;
    return 0;
  }
  if (store_word(pc, words, 0, KIND_COMMAND) || pc->command < 0) return 1;
  if (command_interactive_only(pc->command)) return 0;
  unsigned *kinds = talloc_zero_array(pc, unsigned, count);
  if (!kinds) return 1;
  kinds[0] = KIND_COMMAND;
  for (int i = 1; i < count; i++) kinds[i] = kind_by_form(words[i]);
  int refused = 0;
  if (place_last_run(pc->command, kinds, count)) {
    puts("Parse error: Unable to successfully parse the command.");
    cli_state.status = -17;
    refused = 1;
  }
  for (int i = 1; i < count && !refused; i++)
    refused = store_word(pc, words, i, kinds[i]);
  if (!refused) refused = check_required(pc, words, kinds, count);
  talloc_free(kinds);
  return refused;
}
