#include "vornd/effects.h"

#include <algorithm>

namespace vornd {
namespace {

// Returns the side-effect folder of node n, creating valueless folders on
// the way.
Node &effect_entry(Tree &t, const Node &n) {
  Node *e = t.resolve("/param/side-effect");
  std::vector<const Node *> chain;
  for (const Node *p = &n; p->parent; p = p->parent) chain.push_back(p);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    Node *k = Tree::find_kid(*e, (*it)->name);
    e = k ? k : &t.add_kid(*e, *t.model().param_def, (*it)->name);
  }
  return *e;
}

// Records n's declarations in the side-effect branch, then its subtree's.
void record(Tree &t, const Node &n) {
  if (n.def == t.model().param_def) return;  // the branch itself
  if (!n.def->mirror.empty()) {
    Node &e = effect_entry(t, n);
    e.def = t.model().effect_def;  // a folder that now carries a value
    e.value = dotted(n.def->mirror);
  }
  for (const auto &k : n.kids) {
    if (k->def->reveal) {
      Node &e = effect_entry(t, n);
      Node *p = Tree::find_kid(e, k->name);
      if (!p) p = &t.add_kid(e, *t.model().effect_def, k->name);
      p->value = dotted(k->def->reveal->at);
    }
    record(t, *k);
  }
}

void settle_node(Tree &t, Node &n) {
  if (n.def->reveal) apply_reveal(t, n);
  if (!n.def->mirror.empty()) sync_mirror(t, n);
  for (size_t i = 0; i < n.kids.size(); ++i) settle_node(t, *n.kids[i]);
}

}  // namespace

std::string dotted(std::string_view path) {
  std::string s(path);
  std::replace(s.begin(), s.end(), '/', '.');
  return s;
}

void apply_reveal(Tree &t, Node &p) {
  const Reveal &r = *p.def->reveal;
  Node *at = t.resolve(r.at);
  if (!at) return;
  Node *shown = Tree::find_kid(*at, r.node->name);
  if (p.value == r.when && !shown) t.add_kid(*at, *r.node, r.node->name);
  if (p.value != r.when && shown) Tree::remove_kid(*shown);
}

void sync_mirror(Tree &t, Node &list) {
  Node *m = t.resolve(list.def->mirror);
  if (!m || !m->def->entry) return;
  std::vector<std::unique_ptr<Node>> old;
  old.swap(m->kids);
  m->index.reset();
  for (const auto &e : list.kids) {
    if (e->def != list.def->entry) continue;
    auto it = std::find_if(old.begin(), old.end(), [&](const auto &o) {
      return o && o->name == e->name;
    });
    if (it != old.end()) {
      m->kids.push_back(std::move(*it));
    } else {
      t.add_kid(*m, *m->def->entry, e->name);
    }
  }
}

void rebuild_side_effects(Tree &t) {
  Node *branch = t.resolve("/param/side-effect");
  if (!branch) return;
  branch->kids.clear();
  branch->index.reset();
  record(t, t.root());
}

void settle(Tree &t) {
  settle_node(t, t.root());
  rebuild_side_effects(t);
}

}  // namespace vornd
