// The local copy of the daemon's parameter tree: node records, their child
// lists and the lookup of one path word. Nodes are talloc blocks; each node
// is a talloc child of its parent, the root a talloc context of its own.
#pragma once

#include <stdint.h>

// Operation bits, one per letter of "adhlgsrm".
enum cli_node_op {
  NODE_OP_CREATE = 0x01,
  NODE_OP_DELETE = 0x02,
  NODE_OP_HELP = 0x04,
  NODE_OP_LIST = 0x08,
  NODE_OP_GET = 0x10,
  NODE_OP_SET = 0x20,
  NODE_OP_RENAME = 0x40,
  NODE_OP_M = 0x80,
};

// Command-mask value that selects branch-like nodes; never a node bit.
#define NODE_SELECT_BRANCH 0x100u

// A node costs one talloc block, name included: a device tree has
// hundreds of thousands of nodes and every block carries talloc's header.
struct cli_node {
  char *name;      // just past the record in its block; after a rename a
                   // talloc child; null for the root
  char *ops;       // the letters as received: in ops_text when they fit,
                   // else a talloc child; null before the description
  char **choices;  // null-terminated; from the loader one talloc block with
                   // the texts after the array; or null
  cli_node *first_child;
  cli_node *last_child;
  cli_node *next;
  cli_node *parent;
  cli_node *matches;  // node named by the "matches" line, or null
  uint32_t flags;     // operation bits from the "ops " letters
  int32_t hidden;     // 1 when the daemon hides the node
  char ops_text[16];
};

// Returns a new node named with a copy of name (null stays null), appended
// to parent's children and owned by parent; null when memory runs out.
// Freed with its parent or with talloc_free after disconnect_child.
cli_node *create_node(cli_node *parent, const char *name, uint32_t flags);

// Gives node a copy of name. Returns 0, or 1 (old name kept) when memory
// runs out.
int set_node_name(cli_node *node, const char *name);

// Gives node a copy of the operation letters. Returns 0, or 1 (old letters
// kept) when memory runs out.
int set_node_ops(cli_node *node, const char *letters);

// Unlinks child from parent's child list; the caller frees child. Prints an
// "Argh." message and changes nothing when child is not parent's.
void disconnect_child(cli_node *parent, cli_node *child);

// Frees the whole tree; cli_state.root and cli_state.cwd become null.
void free_tree(void);

// Returns the node that one path word names from node ("..", "." or a
// child name compared after dequoting, ignoring case), or null.
cli_node *find_child(cli_node *node, const char *word);

// Returns find_child of name, else a new last child; null only when memory
// runs out.
cli_node *find_or_create_child(cli_node *node, const char *name,
                               uint32_t flags);

// Returns the node reached by find_or_create_child along words (flags 0).
cli_node *find_or_create_path(cli_node *node, char *const *words, int count);

// Returns the node reached by find_child along words: node itself when count
// is below 1, null at the first miss or for a null node.
cli_node *walk_path(cli_node *node, char *const *words, int count);

// Returns a talloc array (no parent, type "struct cli_node *") of the nodes
// from the one below the root down to node, and their number in *count;
// null for a null node. The caller releases it with talloc_free.
cli_node **node_ancestors(cli_node *node, int *count);
