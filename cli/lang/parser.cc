// Splitting a line into words and recording the words that the two parsers
// have given kinds.
#include "lang/parser.h"

#include <string.h>
#include <talloc.h>

#include "lang/commands.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {
// Releases a word array of split_words.
void free_words(char **words, int count) {
  for (int i = 0; i < count; i++) cli_free(words[i]);
  cli_free(words);
}

// Replaces the talloc text *slot of pc by a copy of text (null: cleared).
// Returns 0, or 1 when memory ran out.
int set_text(struct parsed_command *pc, char **slot, const char *text) {
  char *copy = nullptr;
  if (text && !(copy = talloc_strdup(pc, text))) return 1;
  talloc_free(*slot);
  *slot = copy;
  return 0;
}

// Records an interactive path word: absolute, with path_node set when at
// most its last component is missing. Returns 0, or 1 on memory failure.
int store_tree_path(struct parsed_command *pc, const char *word) {
  char *prefix = nullptr;
  char *rest = cli_strdup(word);
  if (!rest) return 1;
  cli_node *node = resolve_path_prefix(&prefix, &rest);
  if (!find_unescaped(rest, cli_opts.separator)) pc->path_node = node;
  char *path = absolute_path_text(prefix);
  if (*rest) path_append(&path, rest);
  int failed = set_text(pc, &pc->path, path);
  cli_free(path);
  cli_free(prefix);
  cli_free(rest);
  return failed;
}

// Records a path word in either shell. Returns 0, or 1 on memory failure.
int store_path(struct parsed_command *pc, const char *word) {
  if (!cli_opts.interactive) return set_text(pc, &pc->path, word);
  return store_tree_path(pc, word);
}

// A word that is both a path and a parameter (x/y=1 with x an existing
// node, or net beside a parameter netmask) is split so that the handlers
// find what they expect: with an unescaped separator before its first "=",
// the part before the last such separator is the path and the rest one
// parameter (x and y=1); any other such word names an existing node and
// is recorded as the path alone. Nothing may follow such a word, so it
// is the only path of its line. Returns 0, or 1 on memory failure.
int store_path_and_parameter(struct parsed_command *pc, const char *word) {
  const char *eq = strchr(word, '=');
  const char *cut = nullptr;
  for (const char *s = word; eq && (s = find_unescaped(s, cli_opts.separator));
       s++) {
    if (s > eq) break;
    cut = s;
  }
  if (!cut) return store_path(pc, word);
  // A word such as /y=1 keeps the root as its path.
  char *path = cut == word ? cli_strdup(cli_opts.separator)
                           : cli_strndup(word, cut - word);
  if (!path) return 1;
  int failed = store_path(pc, path) || add_value_pair(pc, cut + 1);
  cli_free(path);
  return failed;
}
}  // namespace

int add_value_pair(struct parsed_command *pc, const char *word) {
  auto *pair = talloc_zero(pc, struct parsed_command_value_pair);
  if (!pair) return 1;
  const char *eq = strchr(word, '=');
  if (eq) {
    pair->value = talloc_strdup(pc, eq + 1);
    pair->name = talloc_strndup(pc, word, eq - word);
  } else {
    pair->name = talloc_strdup(pc, word);
  }
  if (!pair->name || (eq && !pair->value)) {
    talloc_free(pair->name);
    talloc_free(pair->value);
    talloc_free(pair);
    return 1;
  }
  parsed_command_value_pair **end = &pc->values;
  while (*end) end = &(*end)->next;
  *end = pair;
  return 0;
}

int store_word(struct parsed_command *pc, char **words, int index,
               unsigned kind) {
  const char *word = words[index];
  switch (kind) {
    case KIND_COMMAND:
      pc->command = lookup_command(word);
      return 0;
    case KIND_PATH:
      return store_path(pc, word);
    case KIND_NEW_NAME:
      return set_text(pc, &pc->new_name, word);
    case KIND_PARAMETER:
      return add_value_pair(pc, word);
    case KIND_PATH | KIND_PARAMETER:
      return store_path_and_parameter(pc, word);
    default:  // options, and words that were given no kind
      return 0;
  }
}

struct parsed_command *parse_command_line(const char *line, int completing) {
  size_t length = line ? strlen(line) : 0;
  char **words = nullptr;
  int count = split_words(line, length, &words, ' ', '"', '\\', 0, WORD_RAW);
  bool ends_with_space = length == 0 || line[length - 1] == ' ';
  auto *pc = talloc_zero(nullptr, struct parsed_command);
  int refused = !pc;
  if (pc) {
    pc->command = -1;
    pc->word_count = count;
    pc->completing = completing;
    if (!ends_with_space && count > 0)
      refused = !(pc->partial = talloc_strdup(pc, words[count - 1]));
  }
  int parsed = count;
  if (completing && !ends_with_space && count > 0) parsed--;
  if (!refused && cli_opts.interactive)
    refused = parse_words_interactive(pc, words, parsed);
  else if (!refused)
    refused = parse_words_batch(pc, words, parsed);
  free_words(words, count);
  if (!refused) return pc;
  if (pc && pc->created) undo_create(pc);
  talloc_free(pc);
  return nullptr;
}

void free_parsed_command(struct parsed_command *pc) {
  talloc_free(pc);
}
