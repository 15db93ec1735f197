#include "tree/candidates.h"

#include <string.h>
#include <strings.h>

#include "tree/node.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {
// The list being built. Its length is kept here: a tree of 100,000 nodes
// must not walk the list for every append or every branch.
struct builder {
  char ***list;
  int count;
  int room;  // slots of the array, the terminator's included
};

// Appends text, which the list then owns. Returns 0, or 1 when the array
// cannot grow (text still the caller's).
int builder_append(builder *b, char *text) {
  if (b->count + 2 > b->room) {
    int room = b->room < 8 ? 16 : 2 * b->room;
    // The allocator zero-fills new room, so the array stays terminated.
    char **grown = static_cast<char **>(
        cli_realloc(*b->list, static_cast<int>(room * sizeof(char *))));
    if (!grown) return 1;
    *b->list = grown;
    b->room = room;
  }
  (*b->list)[b->count++] = text;
  (*b->list)[b->count] = nullptr;
  return 0;
}

// Appends the escaped name of node to *path. Returns 0, or 1 on failure.
int append_name(char **path, const cli_node *node) {
  const char *name = node->name ? node->name : "";
  if (!strchr(name, '/')) return cli_extend(path, name);
  char *escaped = escape_separators(name);
  int failed = !escaped || cli_extend(path, escaped);
  cli_free(escaped);
  return failed;
}

// Cuts the accumulated path back to length bytes.
void cut_back(char *path, size_t length) {
  if (path) path[length] = '\0';
}

// Returns 1 when some text that begins with path could begin with partial:
// one of them is a prefix of the other, ignoring case.
int may_match(const char *path, const char *partial) {
  if (!partial) return 1;
  size_t n = strlen(path), p = strlen(partial);
  return strncasecmp(path, partial, n < p ? n : p) == 0;
}

// Returns 1 when s qualifies for mask, testing the bits of t.
int qualifies(const cli_node *s, const cli_node *t, unsigned mask) {
  if (t->flags & mask) return 1;
  return mask == NODE_SELECT_BRANCH &&
         (!(s->flags & (NODE_OP_GET | NODE_OP_SET)) || s->first_child);
}

// Appends prefix + candidate unless it is empty or does not begin with
// partial.
void offer(const char *prefix, const char *partial, const char *candidate,
           builder *b) {
  if (partial &&
      (!candidate || strncasecmp(candidate, partial, strlen(partial)) != 0))
    return;
  char *text = cli_strdup(prefix ? prefix : "");
  if (text && candidate) cli_extend(&text, candidate);
  if (!text || !*text || builder_append(b, text) != 0) cli_free(text);
}

struct walk {
  const char *prefix, *partial;
  unsigned mask;
  int mode, recurse;
};

char *collect(cli_node *first, const walk &w, char *path, builder *b);

// Collects the candidates of s's subtree. Returns the accumulated path
// (content unchanged) and sets *below when any came.
char *collect_below(cli_node *s, const walk &w, char *path, builder *b,
                    bool *below) {
  size_t entry = path ? strlen(path) : 0;
  int before = b->count;
  if (append_name(&path, s) == 0 &&
      cli_extend(&path, cli_opts.separator) == 0 && may_match(path, w.partial))
    path = collect(s->first_child, w, path, b);
  cut_back(path, entry);
  *below = b->count > before;
  return path;
}

// The recursive step over first and its later siblings.
char *collect(cli_node *first, const walk &w, char *path, builder *b) {
  size_t entry = path ? strlen(path) : 0;
  for (cli_node *s = first; s; s = s->next) {
    const cli_node *t = w.mode == -1 ? s->parent : s;
    bool below = false;
    if (w.recurse && !s->hidden && s->first_child)
      path = collect_below(s, w, path, b, &below);
    if (!t || t->hidden || !qualifies(s, t, w.mask)) continue;
    bool named = w.mode == 1 || (append_name(&path, s) == 0 &&
                                 (!below || !cli_extend(&path, "/")));
    if (named) offer(w.prefix, w.partial, path, b);
    cut_back(path, entry);
  }
  return path;
}
}  // namespace

char *collect_candidates(cli_node *first, const char *prefix,
                         const char *partial, unsigned mask, int mode,
                         int recurse, char *path, char ***list) {
  int count = strlist_count(*list);
  builder b = {list, count, count + 1};
  return collect(first, {prefix, partial, mask, mode, recurse}, path, &b);
}

char **child_candidates(cli_node *node, const char *prefix, const char *partial,
                        unsigned mask, int mode, int recurse) {
  if (!node) return nullptr;
  char **list = nullptr;
  char *path = cli_strdup("");
  path = collect_candidates(node->first_child, prefix, partial, mask, mode,
                            recurse, path, &list);
  cli_free(path);
  return list;
}
