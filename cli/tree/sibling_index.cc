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

// Children of a parent scanned before the hash is asked. Beyond these the
// hash holds the children, so its table grows with the long lists only.
constexpr int kScanned = 8;

// Puts node into its slot: the first free one from its hash on. Equal
// names share a hash, so the earlier node stays first on the probe path
// and a lookup finds it first, as the sibling scan would.
void insert(cli_node **slots, size_t mask, cli_node *node) {
  size_t i = slot_hash(node->parent, node->name) & mask;
  while (slots[i]) i = (i + 1) & mask;
  slots[i] = node;
}

// Doubles the table (or makes the first one). Nodes move in probe order
// from a free slot on, which keeps equal names in their order. Returns
// false when memory runs out.
bool grow(sibling_index *index) {
  size_t size = index->slots ? 2 * (index->mask + 1) : index->first_size;
  cli_node **slots = talloc_zero_array(index->top, cli_node *, size);
  if (!slots) return false;
  size_t old = index->slots ? index->mask + 1 : 0, free_at = 0;
  while (free_at < old && index->slots[free_at]) free_at++;
  for (size_t k = 1; k <= old; k++)
    if (cli_node *n = index->slots[(free_at + k) % old])
      insert(slots, size - 1, n);
  talloc_free(index->slots);
  index->slots = slots;
  index->mask = size - 1;
  return true;
}

// Indexes node, a new last child, unless the scan reaches it: before is
// the number of children ahead of it, up to kScanned, or -1 to count them.
// A table that cannot grow is given up: lookups scan from then on.
void index_new_child(sibling_index *index, cli_node *node, int before) {
  if (before < 0) {
    before = 0;
    for (cli_node *k = node->parent->first_child;
         k != node && before < kScanned; k = k->next)
      before++;
  }
  if (before < kScanned || index->broken) return;
  if (2 * (index->used + 1) > (index->slots ? index->mask + 1 : 0) &&
      !grow(index)) {
    sibling_index_free(index);
    index->broken = true;
    return;
  }
  insert(index->slots, index->mask, node);
  index->used++;
}

// Returns true when the names a and b are equal ignoring case. The first
// letters are compared first, as most siblings differ there.
bool same_name(const char *a, const char *b) {
  return tolower((unsigned char)*a) == tolower((unsigned char)*b) &&
         strcasecmp(a, b) == 0;
}

// Returns the first child of parent whose name equals plain ignoring case,
// or null: the first kScanned children by scanning, the others by hash.
// *scanned receives the number of children scanned.
cli_node *lookup(const sibling_index *index, const cli_node *parent,
                 const char *plain, int *scanned) {
  const cli_node *kid = parent->first_child;
  int i = 0;
  for (; kid && i < kScanned; kid = kid->next, i++)
    if (kid->name && same_name(kid->name, plain))
      return const_cast<cli_node *>(kid);
  *scanned = i;
  if (!kid || !index->slots) return nullptr;
  size_t at = slot_hash(parent, plain) & index->mask;
  for (cli_node *n; (n = index->slots[at]); at = (at + 1) & index->mask)
    if (n->parent == parent && same_name(n->name, plain)) return n;
  return nullptr;
}

// Returns true when node is the index's top or lies below it.
bool inside(const sibling_index *index, const cli_node *node) {
  for (; node; node = node->parent)
    if (node == index->top) return true;
  return false;
}

}  // namespace

void sibling_index_init(sibling_index *index, cli_node *top, size_t lines) {
  // Room for a quarter of the lines spares most trees a rehash, whose reads
  // of old nodes miss the cache; most nodes are never hashed at all.
  size_t first = 64;
  while (first < lines / 2) first *= 2;
  *index = {top, nullptr, 0, 0, first, false};
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
  if (index->broken || dots || !inside(index, parent)) {
    cli_node *last = parent->last_child;
    cli_node *node = find_or_create_child(parent, name, 0);
    if (node && parent->last_child != last && inside(index, parent))
      index_new_child(index, node, -1);
    return node;
  }
  // Names are compared dequoted; most hold nothing to remove. When the
  // copy fails the name is taken as new, as a failed lookup would.
  bool quoted = strpbrk(name, "\\\"") != nullptr;
  char *owned = quoted ? dequote_text(name) : nullptr;
  int scanned = -1;
  cli_node *node = !quoted || owned
                       ? lookup(index, parent, owned ? owned : name, &scanned)
                       : nullptr;
  cli_free(owned);
  if (node) return node;
  node = create_node(parent, name, 0);
  if (node) index_new_child(index, node, scanned);
  return node;
}
