// Fills the local tree from the daemon: one listing request per subtree,
// then one description request per node of it.
#pragma once

#include <stdint.h>

struct cli_node;

// Frees the old tree, makes a new root the current node and loads
// everything below it. Returns 0 whatever the daemon answered.
int build_tree(void);

// Replaces every descendant of node by what the daemon lists, then reads
// the description of each new descendant (not of node itself).
void load_subtree(cli_node *node);

// Reads the description of every descendant of node, depth first.
void load_subtree_attributes(cli_node *node);

// Reads one node's description: operation letters, hidden flag, matches and
// choices.
void load_node_attributes(cli_node *node);

// Returns the operation bits of the letters in text; other characters add
// nothing. Null gives 0.
uint32_t parse_ops_letters(const char *text);
