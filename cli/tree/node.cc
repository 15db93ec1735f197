#include "tree/node.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <talloc.h>

#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

cli_node *create_node(cli_node *parent, const char *name, uint32_t flags) {
  size_t name_size = name ? strlen(name) + 1 : 0;
  cli_node *node = static_cast<cli_node *>(
      talloc_zero_size(parent, sizeof(cli_node) + name_size));
  if (!node) return nullptr;
  talloc_set_name_const(node, "struct cli_node");
  if (name) {
    node->name = reinterpret_cast<char *>(node + 1);
    memcpy(node->name, name, name_size);
  }
  node->flags = flags;
  node->parent = parent;
  if (!parent) return node;
  if (!parent->first_child)
    parent->first_child = node;
  else
    parent->last_child->next = node;
  parent->last_child = node;
  return node;
}

int set_node_name(cli_node *node, const char *name) {
  char *copy = talloc_strdup(node, name);
  if (!copy) return 1;
  // The first name lives in the node's own block and goes with it.
  if (node->name != reinterpret_cast<char *>(node + 1)) talloc_free(node->name);
  node->name = copy;
  return 0;
}

int set_node_ops(cli_node *node, const char *letters) {
  size_t size = strlen(letters) + 1;
  char *to = node->ops_text;
  if (size > sizeof node->ops_text) {
    to = talloc_strdup(node, letters);
    if (!to) return 1;
  }
  if (node->ops != node->ops_text) talloc_free(node->ops);
  if (to == node->ops_text) memcpy(to, letters, size);
  node->ops = to;
  return 0;
}

void disconnect_child(cli_node *parent, cli_node *child) {
  cli_node *before = nullptr;
  cli_node *walk = parent ? parent->first_child : nullptr;
  while (walk && walk != child) {
    before = walk;
    walk = walk->next;
  }
  if (!walk || !child) {
    fputs(
        "Argh. Trying to disconnect a child from a parent to whom they don't "
        "belong.",
        stdout);
    return;
  }
  if (before)
    before->next = child->next;
  else
    parent->first_child = child->next;
  if (parent->last_child == child) parent->last_child = before;
  child->next = nullptr;
  child->parent = nullptr;
}

void free_tree(void) {
  talloc_free(cli_state.root);
  cli_state.root = nullptr;
  cli_state.cwd = nullptr;
}

cli_node *find_child(cli_node *node, const char *word) {
  if (!node || !word) return nullptr;
  if (strcmp(word, "..") == 0) return node->parent;
  if (strcmp(word, ".") == 0) return node;
  char *plain = dequote_text(word);
  if (!plain) return nullptr;
  cli_node *child = node->first_child;
  while (child && !(child->name && strcasecmp(child->name, plain) == 0))
    child = child->next;
  cli_free(plain);
  return child;
}

cli_node *find_or_create_child(cli_node *node, const char *name,
                               uint32_t flags) {
  cli_node *found = find_child(node, name);
  return found ? found : create_node(node, name, flags);
}

cli_node *find_or_create_path(cli_node *node, char *const *words, int count) {
  for (int i = 0; node && i < count; i++)
    node = find_or_create_child(node, words[i], 0);
  return node;
}

cli_node *walk_path(cli_node *node, char *const *words, int count) {
  for (int i = 0; node && i < count; i++) node = find_child(node, words[i]);
  return node;
}

cli_node **node_ancestors(cli_node *node, int *count) {
  if (!node) return nullptr;
  int n = 0;
  for (cli_node *up = node; up->parent; up = up->parent) n++;
  cli_node **list = talloc_array(nullptr, struct cli_node *, n);
  if (!list) return nullptr;
  int i = n;
  for (cli_node *up = node; up->parent; up = up->parent) list[--i] = up;
  *count = n;
  return list;
}
