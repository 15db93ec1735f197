// The outlines printed by list, listr, show and showr.
#pragma once

struct cli_node;

// Prints node's line (unless it is the root or hidden) and its children;
// a null node means the root.
void print_tree(struct cli_node *node, int show_values, int recursive);

// Prints siblings from first on at depth, skipping hidden ones with their
// subtrees, descending into children when recursive is set.
void print_node_list(struct cli_node *first, int depth, int show_values,
                     int recursive);

// Prints one line for node, indented by 2 * depth, with "=value" when
// show_values is set and the node can be read.
void print_node_line(struct cli_node *node, int depth, int show_values);
