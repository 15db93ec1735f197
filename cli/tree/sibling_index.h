// Finds the child that a listing line names among the children one listing
// creates, without scanning every sibling, which made loading a list of
// thousands of entries quadratic. The first children of a parent are
// scanned, as they are few, fresh in cache and most parents have no more;
// the children after them are kept in a hash keyed by parent and name
// ignoring case.
#pragma once

#include <stddef.h>

struct cli_node;

struct sibling_index {
  cli_node *top;     // the emptied node being loaded
  cli_node **slots;  // talloc array of mask + 1 entries, or null
  size_t mask;
  size_t used;
  size_t first_size;  // of the table, made when the first child is hashed
  bool broken;        // the table could not grow: every lookup scans
};

// Prepares an index below top, which must have no children yet, for a
// listing of about lines lines. Its table, a talloc child of top, grows
// with the children it holds.
void sibling_index_init(sibling_index *index, cli_node *top, size_t lines);

// Releases the index's table.
void sibling_index_free(sibling_index *index);

// Returns what find_or_create_child(parent, name, 0) returns. Parents
// outside top's subtree (reached through "..") are scanned instead.
cli_node *sibling_index_find_or_create(sibling_index *index, cli_node *parent,
                                       const char *name);
