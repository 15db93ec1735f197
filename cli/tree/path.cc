#include "tree/path.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <talloc.h>

#include "tree/node.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {

// Returns true when text begins with the separator text.
bool starts_with_separator(const char *text) {
  const char *sep = cli_opts.separator;
  return text && strncmp(text, sep, strlen(sep)) == 0;
}

// Splits a path text at the separator, keeping quotes and escapes in the
// words. Returns the count (0 for none); *words is an allocator array or
// null, released with free_words.
int split_path_words(const char *text, char ***words) {
  *words = nullptr;
  if (!text || !*text) return 0;
  int n = split_words(text, strlen(text), words, cli_opts.separator[0], '"',
                      '\\', 0, WORD_RAW);
  return n > 0 ? n : 0;
}

// Releases count words and their array.
void free_words(char **words, int count) {
  for (int i = 0; words && i < count; i++) cli_free(words[i]);
  cli_free(words);
}

// Returns a copy of text after its first skip characters, or "" when text
// is shorter than that.
char *copy_after(const char *text, size_t skip) {
  return cli_strdup(skip > strlen(text) ? "" : text + skip);
}

// Replaces the allocator text in *slot by fresh (which may be null).
void replace_text(char **slot, char *fresh) {
  cli_free(*slot);
  *slot = fresh;
}

// Returns the length of name (null counts as empty) with every "/"
// written "\/". Written out: names are short, and a path walks several.
size_t escaped_length(const char *name) {
  size_t n = 0;
  for (const char *c = name; c && *c; c++) n += *c == '/' ? 2 : 1;
  return n;
}

// Writes name escaped as escaped_length counts it, without a terminator.
void write_escaped(char *out, const char *name) {
  for (const char *c = name; c && *c; c++) {
    if (*c == '/') *out++ = '\\';
    *out++ = *c;
  }
}

// Returns the node below node that the rest of a branch text names (node
// itself for ""); null when none. Every child whose name fits is tried, as
// a name holding the separator reads like several.
cli_node *match_branch(cli_node *node, const char *text) {
  if (!*text) return node;
  const char *sep = cli_opts.separator;
  size_t sep_len = strlen(sep);
  for (cli_node *kid = node->first_child; kid; kid = kid->next) {
    size_t len = kid->name ? strlen(kid->name) : 0;
    if (strncasecmp(text, kid->name ? kid->name : "", len) != 0 ||
        strncmp(text + len, sep, sep_len) != 0)
      continue;
    cli_node *found = match_branch(kid, text + len + sep_len);
    if (found) return found;
  }
  return nullptr;
}

}  // namespace

char *path_of_node(const cli_node *node) {
  if (!node) return nullptr;
  // Measured first and filled from the end: one allocation per path, as
  // the tree load asks for one path per node.
  const char *sep = cli_opts.separator;
  size_t sep_len = strlen(sep), len = 0;
  for (const cli_node *up = node; up->parent; up = up->parent)
    len += sep_len + escaped_length(up->name);
  if (len == 0) return cli_strdup(sep);
  if (len >= UINT_MAX) return nullptr;
  char *text =
      static_cast<char *>(__cli_malloc(static_cast<unsigned>(len + 1)));
  if (!text) return nullptr;
  char *end = text + len;
  for (const cli_node *up = node; up->parent; up = up->parent) {
    end -= escaped_length(up->name);
    write_escaped(end, up->name);
    end -= sep_len;
    memcpy(end, sep, sep_len);
  }
  return text;
}

char *branch_of_node(const cli_node *node) {
  if (!node || !node->parent) return nullptr;
  int count = 0;
  cli_node **chain = node_ancestors(const_cast<cli_node *>(node), &count);
  if (!chain) return nullptr;
  char *text = cli_strdup("");
  for (int i = 0; text && i < count; i++) {
    const char *name = chain[i]->name ? chain[i]->name : "";
    if (cli_extend(&text, name) != 0 ||
        cli_extend(&text, cli_opts.separator) != 0)
      replace_text(&text, nullptr);
  }
  talloc_free(chain);
  return text;
}

cli_node *node_from_branch(const char *branch) {
  if (!cli_state.root) return nullptr;
  return branch ? match_branch(cli_state.root, branch) : cli_state.root;
}

cli_node *node_from_path(const char *text) {
  cli_node *start = cli_state.cwd;
  if (starts_with_separator(text)) {
    text += strlen(cli_opts.separator);
    start = cli_state.root;
  }
  char **words;
  int count = split_path_words(text, &words);
  cli_node *node = count ? walk_path(start, words, count) : start;
  free_words(words, count);
  return node;
}

char *join_path_words(char *const *words, int first, int last, int absolute) {
  char *text = cli_strdup(absolute ? cli_opts.separator : "");
  for (int i = first; text && i <= last; i++) {
    if (cli_extend(&text, words[i]) != 0 ||
        cli_extend(&text, cli_opts.separator) != 0)
      replace_text(&text, nullptr);
  }
  return text;
}

cli_node *resolve_path_prefix(char **prefix, char **rest) {
  const char *input = *rest ? *rest : "";
  cli_node *node = cli_state.cwd;
  bool absolute = starts_with_separator(input);
  size_t skip = absolute ? strlen(cli_opts.separator) : 0;
  if (absolute) node = cli_state.root;
  char **words;
  int count = split_path_words(input + skip, &words);
  // The rest is cut from the caller's text, so keep it until the end.
  char *original = *rest;
  char *cut = nullptr;
  for (int i = 0; node && i < count; i++) {
    cli_node *child = find_child(node, words[i]);
    if (!child) break;
    replace_text(prefix, join_path_words(words, 0, i, absolute));
    size_t taken = *prefix ? strlen(*prefix) - skip : 0;
    replace_text(&cut, copy_after(input + skip, taken));
    node = child;
  }
  if (absolute && (!*prefix || !**prefix) && !cut) {
    replace_text(prefix, cli_strdup(cli_opts.separator));
    cut = cli_strdup(input + skip);
  }
  if (cut) {
    cli_free(original);
    *rest = cut;
  }
  free_words(words, count);
  return node;
}

cli_node *node_from_absolute_path(const char *path, const char *name) {
  char *full = cli_strdup(path);
  if (name) path_append(&full, name);
  char *prefix = nullptr;
  char *rest = full;
  cli_node *node = resolve_path_prefix(&prefix, &rest);
  if (!rest || (*rest && strcmp(rest, cli_opts.separator) != 0)) {
    printf("\n\nArgh. Cannot convert %s to an absolute path.\n", path);
    node = nullptr;
  }
  cli_free(prefix);
  cli_free(rest);
  return node;
}

char *absolute_path_text(const char *text) {
  if (starts_with_separator(text)) return cli_strdup(text);
  if (!cli_opts.interactive) {
    char *text_copy = cli_strdup(cli_opts.separator);
    if (text && cli_extend(&text_copy, text) != 0)
      replace_text(&text_copy, nullptr);
    return text_copy;
  }
  if (!text) return path_of_node(cli_state.cwd);
  char *here = path_of_node(cli_state.cwd);
  cli_node *node = here ? node_from_absolute_path(here, text) : nullptr;
  cli_free(here);
  return path_of_node(node);
}
