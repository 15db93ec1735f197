#include "tree/candidates.h"

#include <string.h>
#include <strings.h>

#include "tree/node.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {
// Appends the escaped name of node and, when slash, a "/" to *path.
void append_name(char **path, const cli_node *node, bool slash) {
  char *escaped = escape_separators(node->name ? node->name : "");
  if (escaped) cli_extend(path, escaped);
  cli_free(escaped);
  if (slash) cli_extend(path, "/");
}

// Cuts the accumulated path back to length bytes.
void cut_back(char *path, size_t length) {
  if (path) path[length] = '\0';
}

// Returns 1 when s qualifies for mask, testing the bits of t.
int qualifies(const cli_node *s, const cli_node *t, unsigned mask) {
  if (t->flags & mask) return 1;
  return mask == NODE_SELECT_BRANCH &&
         (!(s->flags & (NODE_OP_GET | NODE_OP_SET)) || s->first_child);
}

// Appends prefix + candidate to *list unless it is empty or does not begin
// with partial.
void offer(const char *prefix, const char *partial, const char *candidate,
           char ***list) {
  if (partial &&
      strncasecmp(candidate ? candidate : "", partial, strlen(partial)) != 0)
    return;
  char *text = cli_strdup(prefix ? prefix : "");
  if (text && candidate) cli_extend(&text, candidate);
  if (!text || !*text || strlist_append(list, text) != 0) cli_free(text);
}
}  // namespace

char *collect_candidates(cli_node *first, const char *prefix,
                         const char *partial, unsigned mask, int mode,
                         int recurse, char *path, char ***list) {
  size_t entry = path ? strlen(path) : 0;
  for (cli_node *s = first; s; s = s->next) {
    const cli_node *t = mode == -1 ? s->parent : s;
    bool below = false;
    if (recurse && !s->hidden && s->first_child) {
      int before = strlist_count(*list);
      append_name(&path, s, false);
      cli_extend(&path, cli_opts.separator);
      path = collect_candidates(s->first_child, prefix, partial, mask, mode,
                                recurse, path, list);
      cut_back(path, entry);
      below = strlist_count(*list) > before;
    }
    if (!t || t->hidden || !qualifies(s, t, mask)) continue;
    if (mode != 1) append_name(&path, s, below);
    offer(prefix, partial, path, list);
    cut_back(path, entry);
  }
  return path;
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
