// The interactive parser: each word is classified against the local tree
// and accepted only as a kind that the grammar allows at its place.
#include <stdio.h>
#include <string.h>
#include <talloc.h>

#include "lang/commands.h"
#include "lang/grammar.h"
#include "lang/parser.h"
#include "tree/candidates.h"
#include "tree/node.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {
// Returns 1 when the longest resolvable prefix of word leaves at most one
// missing last component.
int resolves_as_path(const char *word) {
  char *prefix = nullptr;
  char *rest = cli_strdup(word);
  if (!rest) return 0;
  resolve_path_prefix(&prefix, &rest);
  int path = prefix && !find_unescaped(rest, cli_opts.separator);
  cli_free(prefix);
  cli_free(rest);
  return path;
}

// Returns 1 when word begins like a command or alias name.
int begins_like_command(const char *word) {
  char **names = command_words(word);
  int found = names != nullptr;
  strlist_free(&names);
  return found;
}

// Returns 1 when parameter_candidates offers something for word.
int has_parameter_candidates(int cmd, const char *word, cli_node *node) {
  char **names = parameter_candidates(cmd, word, node);
  int found = names != nullptr;
  strlist_free(&names);
  return found;
}

// Returns the choices of the child named before the "=" of word that begin
// with the text after it (all of them when none does); null for none.
char **choice_candidates(const char *word, cli_node *node) {
  char **pieces = nullptr;
  int count =
      split_words(word, strlen(word), &pieces, '=', '"', '\\', 0, WORD_RAW);
  cli_node *child = count > 0 ? find_child(node, pieces[0]) : nullptr;
  char **list = nullptr;
  if (child && child->choices) {
    list =
        strlist_filter_prefix(count > 1 ? pieces[1] : nullptr, child->choices);
    if (!list) list = strlist_filter_prefix(nullptr, child->choices);
  }
  for (int i = 0; i < count; i++) cli_free(pieces[i]);
  cli_free(pieces);
  return list;
}

// Prints why word number n was not accepted: it fits none of the expected
// kinds, or no kind at all.
void report_unexpected(int n, const char *word, unsigned got,
                       unsigned expected) {
  // Where nothing may follow, the expected kinds are named as "nothing".
  char *want = kinds_text(expected);
  char *have = kinds_text(got);
  const char *want_text = want ? want : "nothing";
  if (have)
    printf(
        "Parse error: Word %d (%s) is not what was expected. (Got %s, "
        "expecting %s).\n",
        n, word, have, want_text);
  else
    printf(
        "Parse error: Word %d (%s) is not what was expected. (Expecting "
        "%s).\n",
        n, word, want_text);
  cli_free(want);
  cli_free(have);
}

// Returns 1 when the accepted kinds may be stored: one kind, or path and
// parameter together.
int acceptable(unsigned kinds) {
  return (kinds & (kinds - 1)) == 0 || kinds == (KIND_PATH | KIND_PARAMETER);
}

// Creates the node of a create line that has reached its parameters, so
// that they are parsed and set as parameters of the new node. Returns 1
// when the create failed and the parse must stop here (and succeed).
int create_step(struct parsed_command *pc) {
  pc->target = pc->path_node;
  // The row is still create's: its handler makes the node.
  int failed = command_row(pc->command)->handler(pc);
  pc->create_done = 1;
  if (failed) return 1;
  pc->command = lookup_command("set");
  pc->path_node = pc->created;
  return 0;
}

// Sets path, target and expected once the words are parsed. Returns 0, or 1
// when memory ran out.
int finish(struct parsed_command *pc, unsigned expected) {
  if (!pc->path && !pc->path_node) {
    char *here = absolute_path_text(".");
    pc->path = here ? talloc_strdup(pc, here) : nullptr;
    cli_free(here);
    if (here && !pc->path) return 1;
  }
  pc->target = pc->path_node ? pc->path_node : cli_state.cwd;
  pc->expected = expected;
  return 0;
}
}  // namespace

char **parameter_candidates(int cmd, const char *word, cli_node *node) {
  if (!node) return nullptr;
  unsigned mask = command_op_mask(cmd);
  if (!word) return child_candidates(node, nullptr, nullptr, mask, 0, 0);
  if (strchr(word, '=')) return choice_candidates(word, node);
  return child_candidates(node, nullptr, word, mask, 0, 0);
}

unsigned classify_word(int cmd, const char *word, int index, cli_node *node) {
  if (index == 0) return KIND_COMMAND;
  if (!node) node = cli_state.cwd;
  const char sep = cli_opts.separator[0];
  unsigned kinds = 0;
  if (strchr(word, '='))
    kinds = KIND_PARAMETER;
  else if (word[0] == '-')
    return KIND_OPTION;
  else if (word[0] == '.' || word[0] == sep)
    return KIND_PATH;
  if (resolves_as_path(word)) kinds |= KIND_PATH;
  if (begins_like_command(word)) kinds |= KIND_COMMAND;
  cli_node *child = node ? find_child(node, word) : nullptr;
  if (child && (child->flags & (NODE_OP_GET | NODE_OP_SET)))
    kinds = (kinds & ~KIND_PATH) | KIND_PARAMETER;
  else if (strchr(word, sep))
    kinds |= KIND_PATH | KIND_NEW_NAME;
  const unsigned create_get_set = NODE_OP_CREATE | NODE_OP_GET | NODE_OP_SET;
  if ((command_op_mask(cmd) & create_get_set) &&
      has_parameter_candidates(cmd, word, node))
    kinds |= KIND_PARAMETER;
  return kinds;
}

int parse_words_interactive(struct parsed_command *pc, char **words,
                            int count) {
  unsigned expected = KIND_COMMAND;
  for (int i = 0; i < count; i++) {
    unsigned got = classify_word(pc->command, words[i], i, pc->path_node);
    unsigned accepted = expected & got;
    if (!accepted) {
      report_unexpected(i + 1, words[i], got, expected);
      return 1;
    }
    if (!acceptable(accepted)) {
      printf("Parse error: Word %d is ambiguous.\n", i + 1);
      return 1;
    }
    if (store_word(pc, words, i, accepted)) return 1;
    if (accepted == KIND_COMMAND && pc->command < 0) return 1;
    expected = next_word_kinds(pc->command, accepted);
    if (expected == KIND_PARAMETER && !pc->create_done &&
        command_op_mask(pc->command) == NODE_OP_CREATE && create_step(pc))
      return 0;
  }
  return finish(pc, expected);
}
