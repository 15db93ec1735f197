// Listings come from the local copy; only show and showr talk to the daemon,
// one value request per readable node, because values change behind our back.
#include "tree/listing.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tree/get_value.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"

void print_tree(struct cli_node *node, int show_values, int recursive) {
  if (!node) node = cli_state.root;
  if (!node) return;
  if (node->name && !node->hidden) print_node_line(node, 0, show_values);
  print_node_list(node->first_child, 1, show_values, recursive);
}

void print_node_list(struct cli_node *first, int depth, int show_values,
                     int recursive) {
  for (cli_node *node = first; node; node = node->next) {
    if (node->hidden) continue;
    print_node_line(node, depth, show_values);
    if (recursive && node->first_child)
      print_node_list(node->first_child, depth + 1, show_values, recursive);
  }
}

void print_node_line(struct cli_node *node, int depth, int show_values) {
  int width = 2 * depth;
  const char *indent = depth > 0 ? " " : "";
  if (!show_values || !(node->flags & NODE_OP_GET)) {
    printf("%*s%s\n", width, indent, node->name);
    return;
  }
  char *parent = path_of_node(node->parent);
  char *value = get_value(parent, node->name);
  cli_free(parent);
  printf("%*s%s%s%s\n", width, indent, node->name, value ? "=" : "",
         value ? value : "");
  free(value);
}
