#include "tree/load.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <talloc.h>

#include "tree/node.h"
#include "tree/path.h"
#include "tree/sibling_index.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornal.h"

namespace {

// Where the listing walk stands after a line: the line's depth, the node it
// produced and the parent that node was looked up under.
struct listing_walk {
  cli_node *top;
  int depth;
  cli_node *node;
  cli_node *parent;
  sibling_index *index;
};

// Returns true when ancestor lies strictly above node.
bool is_below(const cli_node *node, const cli_node *ancestor) {
  for (const cli_node *up = node ? node->parent : nullptr; up; up = up->parent)
    if (up == ancestor) return true;
  return false;
}

// Clears every "matches" link into the descendants of top, which are about
// to be freed, so that no node keeps a dangling pointer.
void forget_matches_below(cli_node *top) {
  cli_node *walk = cli_state.root;
  while (walk) {
    if (walk->matches && is_below(walk->matches, top)) walk->matches = nullptr;
    if (walk->first_child) {
      walk = walk->first_child;
      continue;
    }
    while (walk && !walk->next) walk = walk->parent;
    if (walk) walk = walk->next;
  }
}

// Frees every descendant of node. A current node among them moves to node
// itself, the closest place that survives the reload.
void drop_children(cli_node *node) {
  if (!node->first_child) return;
  if (is_below(cli_state.cwd, node)) cli_state.cwd = node;
  forget_matches_below(node);
  while (cli_node *child = node->first_child) {
    disconnect_child(node, child);
    talloc_free(child);
  }
}

// Returns the parent for a listing line of depth n. Climbing never goes
// above the requested node, so that a short line after a jump stays inside
// the subtree being loaded.
cli_node *choose_parent(const listing_walk *walk, int n) {
  if (n == walk->depth + 1) return walk->node;
  if (n >= walk->depth) return walk->parent;
  cli_node *up = walk->parent;
  for (int i = walk->depth - n; i > 0 && up != walk->top && up->parent; i--)
    up = up->parent;
  return up;
}

// Applies one listing line to the tree: only its depth and its last
// component count, the earlier components are not compared with the tree.
void apply_listing_line(listing_walk *walk, const char *line) {
  int n = 0;
  char *name = path_line_last(line, &n);
  // An empty line has no components and no sound place in the walk; the
  // daemon never sends one, so it is skipped.
  if (n > 0) {
    cli_node *parent = choose_parent(walk, n);
    cli_node *node = sibling_index_find_or_create(walk->index, parent, name);
    if (node) *walk = {walk->top, n, node, parent, walk->index};
  }
  cli_free(name);
}

// Returns the argument after a line's first space, or null when the line
// has none.
const char *line_argument(const char *line) {
  const char *space = strchr(line, ' ');
  return space ? space + 1 : nullptr;
}

// Returns the argument of a "choices" line, or null for any other line and
// for a "choices" line without one.
const char *choice_of(const char *line) {
  return strncmp(line, "choices", 7) == 0 ? line_argument(line) : nullptr;
}

// Applies one description line to node but its choices (pack_choices
// takes them all at once). A "matches" line without a space carries no
// argument and is ignored.
void apply_description_line(cli_node *node, const char *line) {
  if (strncmp(line, "ops ", 4) == 0) {
    set_node_ops(node, line + 4);
    node->flags = parse_ops_letters(line + 4);
  } else if (strncmp(line, "flags.1 hide", 12) == 0) {
    node->hidden = 1;
  } else if (strncmp(line, "matches", 7) == 0) {
    const char *arg = line_argument(line);
    if (cli_node *target = arg ? node_from_path(arg) : nullptr)
      node->matches = target;
  }
}

// Gives node the choices among the count lines at text (split in place) as
// one talloc block, the null-terminated array followed by the texts, in
// order: n of them, bytes long with their terminators.
void pack_choices(cli_node *node, const char *text, size_t count, size_t n,
                  size_t bytes) {
  size_t table = (n + 1) * sizeof(char *);
  char **list = static_cast<char **>(talloc_size(node, table + bytes));
  if (!list) return;
  talloc_set_name_const(list, "choices");
  char *out = reinterpret_cast<char *>(list) + table;
  n = 0;
  const char *line = text;
  for (size_t i = 0; i < count; i++, line += strlen(line) + 1) {
    const char *c = choice_of(line);
    if (!c) continue;
    size_t size = strlen(c) + 1;
    list[n++] = static_cast<char *>(memcpy(out, c, size));
    out += size;
  }
  list[n] = nullptr;
  talloc_free(node->choices);
  node->choices = list;
}

// Calls apply on each line of text (split at line feeds, in place; the text
// after the last line feed is one more line).
template <typename Apply>
void for_each_line(char *text, Apply apply) {
  for (char *line = text; line;) {
    char *end = strchr(line, '\n');
    if (end) *end = '\0';
    apply(line);
    line = end ? end + 1 : nullptr;
  }
}

// Returns the number of lines of text: its line feeds plus one.
size_t count_lines(const char *text) {
  size_t n = 1;
  for (const char *c = text; (c = strchr(c, '\n')); c++) n++;
  return n;
}

// Sends a request of type about node's path. Returns the handle or null.
vornal_message *ask_about(int type, const cli_node *node) {
  char *path = path_of_node(node);
  if (!path) return nullptr;
  vornal_message *msg =
      vornal_send_message(type, nullptr, path, nullptr, nullptr, nullptr);
  cli_free(path);
  return msg;
}

}  // namespace

uint32_t parse_ops_letters(const char *text) {
  static const char letters[] = "adhlgsrm";
  uint32_t bits = 0;
  for (const char *c = text; c && *c; c++)
    for (int i = 0; i < 8; i++)
      if (*c == letters[i]) bits |= 1u << i;
  return bits;
}

int build_tree(void) {
  free_tree();
  cli_node *root = talloc_zero(nullptr, struct cli_node);
  if (!root) return 0;
  cli_state.root = root;
  cli_state.cwd = root;
  load_subtree(root);
  return 0;
}

void load_subtree(cli_node *node) {
  drop_children(node);
  vornal_message *msg = ask_about(VORNAL_MSG_LIST, node);
  if (!msg) return;
  char *reply = vornal_get_message_reply(msg);
  if (!reply) {
    vornal_message_free(msg);
    return;
  }
  sibling_index index;
  sibling_index_init(&index, node, count_lines(reply));
  listing_walk walk = {node, 0, node, node, &index};
  for_each_line(reply,
                [&](const char *line) { apply_listing_line(&walk, line); });
  sibling_index_free(&index);
  free(reply);
  vornal_message_free(msg);
  load_subtree_attributes(node);
}

void load_subtree_attributes(cli_node *node) {
  // Iterative pre-order walk: listings may be deep enough to make recursion
  // a stack risk.
  cli_node *walk = node->first_child;
  while (walk) {
    load_node_attributes(walk);
    if (walk->first_child) {
      walk = walk->first_child;
      continue;
    }
    while (walk != node && !walk->next) walk = walk->parent;
    walk = walk == node ? nullptr : walk->next;
  }
}

void load_node_attributes(cli_node *node) {
  vornal_message *msg = ask_about(VORNAL_MSG_DESCRIBE, node);
  if (!msg) return;
  char *reply = vornal_get_message_reply(msg);
  if (!reply) {
    puts("ERR No reply received.");
    if (!cli_opts.interactive) cli_state.status = -12;
  } else {
    // Choices are counted on the way and packed in one block after it.
    size_t lines = 0, choices = 0, bytes = 0;
    for_each_line(reply, [&](const char *line) {
      lines++;
      if (const char *c = choice_of(line))
        choices++, bytes += strlen(c) + 1;
      else
        apply_description_line(node, line);
    });
    if (choices) pack_choices(node, reply, lines, choices, bytes);
    free(reply);
  }
  vornal_message_free(msg);
}
