#include "tree/sibling_index.h"

#include <ctype.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>
#include <talloc.h>

#include "tree/node.h"
#include "util/alloc.h"
#include "util/text.h"

namespace {

// Returns the hash of parent and name, folding case as strcasecmp does.
size_t slot_hash(const cli_node *parent, const char *name) {
  uint64_t h = reinterpret_cast<uintptr_t>(parent) * 0x9E3779B97F4A7C15ull;
  for (const unsigned char *c = (const unsigned char *)name; *c; c++)
    h = (h ^ (unsigned char)tolower(*c)) * 0x100000001B3ull;
  return (size_t)(h ^ (h >> 29));
}

// Puts node into its slot: the first free one from its hash on. Equal
// names share a hash, so the earlier node stays first on the probe path
// and a lookup finds it first, as the sibling scan would.
void insert(sibling_index *index, cli_node *node) {
  size_t i = slot_hash(node->parent, node->name) & index->mask;
  while (index->slots[i]) i = (i + 1) & index->mask;
  index->slots[i] = node;
}

// Returns the first indexed child of parent whose name equals plain
// ignoring case, or null.
cli_node *lookup(const sibling_index *index, const cli_node *parent,
                 const char *plain) {
  size_t i = slot_hash(parent, plain) & index->mask;
  for (cli_node *n; (n = index->slots[i]); i = (i + 1) & index->mask)
    if (n->parent == parent && strcasecmp(n->name, plain) == 0) return n;
  return nullptr;
}

// Returns true when node is the index's top or lies below it.
bool inside(const sibling_index *index, const cli_node *node) {
  for (; node; node = node->parent)
    if (node == index->top) return true;
  return false;
}

}  // namespace

void sibling_index_init(sibling_index *index, cli_node *top, size_t count) {
  size_t size = 16;
  while (size < 2 * count) size *= 2;  // at most half full
  index->top = top;
  index->slots = talloc_zero_array(top, cli_node *, size);
  index->mask = size - 1;
}

void sibling_index_free(sibling_index *index) {
  talloc_free(index->slots);
  index->slots = nullptr;
}

cli_node *sibling_index_find_or_create(sibling_index *index, cli_node *parent,
                                       const char *name) {
  // "." and ".." name the parent and its parent, not children; a parent
  // outside the subtree has children that the index never saw.
  bool dots = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
  if (!index->slots || dots || !inside(index, parent)) {
    cli_node *last = parent->last_child;
    cli_node *node = find_or_create_child(parent, name, 0);
    if (index->slots && node && parent->last_child != last) insert(index, node);
    return node;
  }
  char *plain = dequote_text(name);
  cli_node *node = plain ? lookup(index, parent, plain) : nullptr;
  cli_free(plain);
  if (node) return node;
  node = create_node(parent, name, 0);
  if (node) insert(index, node);
  return node;
}
