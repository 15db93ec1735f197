// Feeds arbitrary listing and description replies to the tree loader
// through the library stand-in, then checks that every link of the tree is
// sound and that the tree has the shape a plain sibling scan gives. Input: byte
// 0 picks the options, the rest is split at NUL bytes: the first piece answers
// every listing, the others answer the description requests in turn (a piece
// starting with 0x01 answers without reply text).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <talloc.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/fake_vornal.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/side_effect.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornal.h"

namespace {

[[noreturn]] void broken(const char *what, const cli_node *node) {
  fprintf(stderr, "unsound tree: %s at node %s\n", what,
          node && node->name ? node->name : "(root)");
  abort();
}

// Collects every node below root, checking each child list on the way.
void check_links(const cli_node *root, std::set<const cli_node *> *seen) {
  std::vector<const cli_node *> todo = {root};
  seen->insert(root);
  while (!todo.empty()) {
    const cli_node *node = todo.back();
    todo.pop_back();
    if (!node->first_child != !node->last_child)
      broken("first and last disagree", node);
    const cli_node *last = nullptr;
    for (const cli_node *c = node->first_child; c; c = c->next) {
      if (!seen->insert(c).second) broken("node reached twice", c);
      if (c->parent != node) broken("parent link", c);
      if (talloc_parent(c) != node) broken("talloc owner", c);
      last = c;
      todo.push_back(c);
    }
    if (last != node->last_child) broken("last_child", node);
  }
}

// Checks the fields that point elsewhere: matches, cwd, choices.
void check_refs(const std::set<const cli_node *> &seen) {
  if (!seen.count(cli_state.cwd)) broken("cwd outside the tree", cli_state.cwd);
  for (const cli_node *n : seen) {
    if (n->matches && !seen.count(n->matches)) broken("dangling matches", n);
    if (!n->choices) continue;
    // The loader keeps a node's choices and their texts in one block.
    if (talloc_parent(n->choices) != n) broken("choices owner", n);
    const char *begin = reinterpret_cast<const char *>(n->choices);
    const char *end = begin + talloc_get_size(n->choices);
    for (char **c = n->choices; *c; c++)
      if (*c < begin || *c + strlen(*c) >= end) broken("choice outside", n);
  }
}

// Builds under a fresh root what the listing gives when every line is
// looked up by scanning siblings, the plain way the loader's hash must
// agree with. Returns the root; free it with talloc_free.
cli_node *plain_listing_tree(const std::string &listing) {
  cli_node *top = create_node(nullptr, nullptr, 0);
  int depth = 0;
  cli_node *node = top, *parent = top;
  size_t at = 0;
  while (at <= listing.size()) {
    size_t end = listing.find('\n', at);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(at, end - at);
    at = end + 1;
    char **parts = nullptr;
    int n = split_path_line(line.c_str(), &parts);
    if (n > 0) {
      cli_node *up = n == depth + 1 ? node : parent;
      for (int i = depth - n; n < depth && i > 0 && up != top && up->parent;
           i--)
        up = up->parent;
      if (cli_node *found = find_or_create_child(up, parts[n - 1], 0)) {
        depth = n;
        node = found;
        parent = up;
      }
    }
    for (int i = 0; i < n; i++) cli_free(parts[i]);
    cli_free(parts);
  }
  return top;
}

// Aborts unless both trees have the same names in the same shape.
void same_shape(const cli_node *a, const cli_node *b) {
  const cli_node *x = a->first_child, *y = b->first_child;
  for (; x && y; x = x->next, y = y->next) {
    if (strcmp(x->name, y->name) != 0) broken("name differs from a scan", x);
    same_shape(x, y);
  }
  if (x || y) broken("children differ from a scan", x ? x : a);
}

// Returns the n-th node of a pre-order walk (wrapping), or the root.
cli_node *pick(cli_node *root, unsigned n) {
  std::vector<cli_node *> all = {root};
  for (size_t i = 0; i < all.size(); i++)
    for (cli_node *c = all[i]->first_child; c; c = c->next) all.push_back(c);
  return all[n % all.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  std::vector<std::string> pieces(1);
  for (size_t i = 1; i < size; i++) {
    if (data[i] == 0)
      pieces.emplace_back();
    else
      pieces.back() += static_cast<char>(data[i]);
  }
  cli_reset_records();
  cli_opts.interactive = options & 1;
  fake_vornal::reset();
  size_t turn = 0;
  fake_vornal::respond_with(
      [&](const fake_vornal::request &q) -> std::optional<fake_vornal::reply> {
        if (q.type == VORNAL_MSG_LIST) return fake_vornal::answer(pieces[0]);
        if (pieces.size() < 2) return fake_vornal::status_only("OK");
        const std::string &p = pieces[1 + turn++ % (pieces.size() - 1)];
        if (q.type == VORNAL_MSG_GET) return fake_vornal::answer(p);
        if (!p.empty() && p[0] == 1) return fake_vornal::status_only("OK");
        return fake_vornal::answer(p);
      });
  build_tree();
  cli_node *plain = plain_listing_tree(pieces[0]);
  same_shape(cli_state.root, plain);
  talloc_free(plain);
  std::set<const cli_node *> seen;
  check_links(cli_state.root, &seen);
  check_refs(seen);
  if (options & 2) {
    // Reload one subtree while the current node may sit inside it.
    cli_state.cwd = pick(cli_state.root, options >> 4);
    load_subtree(pick(cli_state.root, options >> 2));
  }
  if (options & 4) {
    // A side effect whose value comes from the description pieces.
    cli_node *entry = pick(cli_state.root, options >> 3);
    if (entry != cli_state.root) refresh_side_effect(entry->name, "p");
  }
  seen.clear();
  check_links(cli_state.root, &seen);
  check_refs(seen);
  free_tree();
  if (fake_vornal::live_handles() != 0) broken("handle leaked", nullptr);
  return 0;
}
