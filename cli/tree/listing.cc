// Listings come from the local copy; only show and showr talk to the daemon,
// one value request per readable node, because values change behind our back.
#include "tree/listing.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/get_value.h"
#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/parser.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"

namespace {

// Rebuilds the tree and resolves the command's path into pc->target.
// Returns 0, or -1 after reporting a path that does not resolve completely.
int resolve_fresh_target(struct parsed_command *pc) {
  build_tree();
  char *prefix = nullptr;
  char *rest = cli_strdup(pc->path ? pc->path : "/");
  cli_node *node = resolve_path_prefix(&prefix, &rest);
  bool whole = !rest || !*rest || strcmp(rest, cli_opts.separator) == 0;
  cli_free(prefix);
  cli_free(rest);
  if (!whole) {
    printf("%s is not a valid path.\n", pc->path);
    cli_state.status = -13;
    return -1;
  }
  pc->target = node;
  return 0;
}

// Returns 1 when the command's row is show or showr.
int shows_values(const struct parsed_command *pc) {
  return pc->command == lookup_command("show") ||
         pc->command == lookup_command("showr");
}

}  // namespace

int list_or_show(struct parsed_command *pc, int recursive) {
  if (!cli_opts.interactive && resolve_fresh_target(pc) != 0) return 0;
  print_tree(pc->target, shows_values(pc), recursive);
  return 0;
}

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

int cmd_list(struct parsed_command *pc) {
  return list_or_show(pc, 0);
}

int cmd_listr(struct parsed_command *pc) {
  return list_or_show(pc, 1);
}
