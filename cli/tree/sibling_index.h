// A hash of the nodes that one listing creates, keyed by parent and name
// ignoring case. It gives each listing line the answer of
// find_or_create_child without scanning every sibling, which made loading
// a list of thousands of entries quadratic.
#pragma once

#include <stddef.h>

struct cli_node;

struct sibling_index {
  cli_node *top;     // the emptied node being loaded
  cli_node **slots;  // talloc array of mask + 1 entries; null when unusable
  size_t mask;
};

// Prepares an index for up to count new nodes below top, which must have
// no children yet; the table is a talloc child of top. On failure the index
// stays unusable and lookups fall back to scanning.
void sibling_index_init(sibling_index *index, cli_node *top, size_t count);

// Releases the index's table.
void sibling_index_free(sibling_index *index);

// Returns what find_or_create_child(parent, name, 0) returns. Parents
// outside top's subtree (reached through "..") are scanned instead.
cli_node *sibling_index_find_or_create(sibling_index *index, cli_node *parent,
                                       const char *name);
