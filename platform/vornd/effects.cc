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

// Returns true when some parameter of definition d holds its reveal value.
bool any_revealing(const Node &n, const Def *d) {
  if (n.def == d && n.value == d->reveal->when) return true;
  for (const auto &k : n.kids)
    if (any_revealing(*k, d)) return true;
  return false;
}

// Collects the parameters that carry a reveal, and the mirrored lists.
void collect(Node &n, std::vector<Node *> &reveals,
             std::vector<Node *> &lists) {
  if (n.def->reveal) reveals.push_back(&n);
  if (!n.def->mirror.empty()) lists.push_back(&n);
  for (const auto &k : n.kids) collect(*k, reveals, lists);
}

// Shows or hides the node that parameters of definition d reveal.
void show(Tree &t, const Def &d, bool on) {
  Node *at = t.resolve(d.reveal->at);
  if (!at) return;
  const Def &node = *d.reveal->node;
  Node *shown = Tree::find_kid(*at, node.name);
  if (on && !shown) t.add_kid(*at, node, node.name);
  if (!on && shown) Tree::remove_kid(*shown);
}

}  // namespace

std::string dotted(std::string_view path) {
  std::string s(path);
  std::replace(s.begin(), s.end(), '/', '.');
  return s;
}

void apply_reveal(Tree &t, Node &p) {
  // Several parameters (one per list entry) may reveal the same node: it
  // stays while any of them holds the value.
  show(t, *p.def,
       p.value == p.def->reveal->when || any_revealing(t.root(), p.def));
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
  std::vector<Node *> reveals, lists;
  collect(t.root(), reveals, lists);
  std::vector<std::pair<const Def *, bool>> wanted;
  for (Node *p : reveals) {
    auto it = std::find_if(wanted.begin(), wanted.end(),
                           [&](const auto &w) { return w.first == p->def; });
    if (it == wanted.end()) it = wanted.insert(wanted.end(), {p->def, false});
    it->second = it->second || p->value == p->def->reveal->when;
  }
  for (auto [def, on] : wanted) show(t, *def, on);
  reveals.clear();
  lists.clear();  // showing and hiding may have changed the lists
  collect(t.root(), reveals, lists);
  for (Node *l : lists) sync_mirror(t, *l);
  rebuild_side_effects(t);
}

}  // namespace vornd
