// Operations on one configuration tree, answering with the status texts
// that clients tell apart.
#include "vornd/effects.h"
#include "vornd/handlers.h"
#include "vornd/limits.h"

namespace vornd {
namespace {

constexpr const char *kOk = "OK";
constexpr const char *kNoEnt = "ERR No such file or directory";
constexpr const char *kDenied = "ERR Permission denied";
constexpr const char *kInsane = "ERR sanity check failed";

// Returns true when name can name a node.
bool valid_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('\n') == std::string_view::npos && valid_utf8(name);
}

// Returns true when value names an entry of the list the def matches.
bool matches_ok(const Tree &t, const Def &def, std::string_view value) {
  if (def.matches.empty()) return true;
  const Node *list = t.resolve(def.matches);
  return list && Tree::find_kid(*list, value);
}

// Appends the listing lines of n's descendants, prefixed by prefix.
void list_lines(const Node &n, const std::string &prefix, std::string &out) {
  for (const auto &k : n.kids) {
    std::string line = prefix + url_encode(k->name);
    if (!out.empty()) out.push_back('\n');
    out += line;
    list_lines(*k, line + "/", out);
  }
}

// Returns the node a parameter names: the node itself for an empty name.
Node *param_node(const Tree &t, std::string_view path, std::string_view param) {
  Node *n = t.resolve(path);
  if (!n || param.empty()) return n;
  return Tree::find_kid(*n, dequote(param));
}

// Returns the node that a parent text and a name as typed give: the kid of
// that name, or for an empty name the node at the parent text itself (a
// shell that stores paths with a final "/" sends its node that way).
Node *named_node(const Tree &t, std::string_view parent,
                 std::string_view name) {
  Node *n = t.resolve(parent);
  if (!n || name.empty()) return n;
  return Tree::find_kid(*n, dequote(name));
}

}  // namespace

std::string do_set(Tree &t, std::string_view path, std::string_view param,
                   const wire::Text &value, bool apply) {
  Node *p = param_node(t, path, param);
  if (!p) return kNoEnt;
  if (!(p->def->ops & kSet) || p->def->type == Type::none) return kDenied;
  std::string v = value ? *value : p->def->fallback;
  if (!valid_utf8(v) || !check_value(*p->def, v).empty() ||
      !matches_ok(t, *p->def, v))
    return kInsane;
  if (!apply) return kOk;
  p->value = canonical(*p->def, v);
  if (p->def->reveal) {
    apply_reveal(t, *p);
    rebuild_side_effects(t);
  }
  return kOk;
}

std::string do_create(Tree &t, std::string_view parent, std::string_view name) {
  Node *n = t.resolve(parent);
  if (!n) return "ERR result=5 No such file or directory";
  if (name.empty()) return "ERR result=6 File exists";
  if (!(n->def->ops & kAdd) || !n->def->entry)
    return "ERR result=5 Operation not permitted";
  std::string plain = dequote(name);
  if (!valid_name(plain)) return "ERR result=22 Invalid argument";
  if (!check_entry_name(*n->def, plain).empty()) return kInsane;
  if (Tree::find_kid(*n, plain)) return "ERR result=6 File exists";
  t.add_kid(*n, *n->def->entry, plain);
  if (!n->def->mirror.empty()) sync_mirror(t, *n);
  rebuild_side_effects(t);
  return kOk;
}

std::string do_delete(Tree &t, std::string_view parent, std::string_view name) {
  Node *k = named_node(t, parent, name);
  if (!k) return "ERR result=5 Success";
  Node *n = k->parent;
  if (!n || !(n->def->ops & kDelete))
    return "ERR result=1 Operation not permitted";
  Tree::remove_kid(*k);
  if (!n->def->mirror.empty()) sync_mirror(t, *n);
  rebuild_side_effects(t);
  return kOk;
}

std::string do_rename(Tree &t, std::string_view parent, std::string_view name,
                      std::string_view new_name) {
  Node *k = named_node(t, parent, name);
  if (!k) return kNoEnt;
  Node *n = k->parent;
  if (!n || !(k->def->ops & kRename))
    return "ERR result=1 Operation not permitted";
  std::string plain = dequote(new_name);
  if (!valid_name(plain)) return "ERR result=22 Invalid argument";
  if (!check_entry_name(*n->def, plain).empty()) return kInsane;
  Node *clash = Tree::find_kid(*n, plain);
  if (clash && clash != k) return "ERR result=6 File exists";
  Tree::rename(*k, plain);
  if (!n->def->mirror.empty()) sync_mirror(t, *n);
  rebuild_side_effects(t);
  return kOk;
}

Answer do_get(const Tree &t, std::string_view path, std::string_view param) {
  Node *p = param_node(t, path, param);
  if (!p || p->def->type == Type::none) return {std::nullopt, kNoEnt};
  if (!(p->def->ops & kGet)) return {std::nullopt, kDenied};
  return {p->value, kOk};
}

Answer do_list(const Tree &t, std::string_view path) {
  const Node *n = t.resolve(path);
  if (!n) return {std::nullopt, kNoEnt};
  if (n->kids.empty()) return {std::nullopt, kOk};
  std::string out;
  list_lines(*n, "", out);
  if (out.size() > wire::kMaxFrame - 64)
    return {std::nullopt, "ERR Reply too large"};
  return {std::move(out), kOk};
}

Answer do_describe(const Tree &t, std::string_view path) {
  const Node *n = t.resolve(path);
  if (!n) return {std::nullopt, kNoEnt};
  const Def &d = *n->def;
  std::string out = "ops " + ops_letters(d.ops);
  if (d.hidden) out += "\nflags.1 hide";
  if (!d.matches.empty()) out += "\nmatches " + d.matches;
  for (const std::string &c : d.choices) out += "\nchoices " + c;
  if (d.type == Type::string && d.max_len != UINT32_MAX)
    out += "\nlen " + std::to_string(d.max_len);
  return {std::move(out), kOk};
}

Answer do_help(const Tree &t, std::string_view path) {
  const Node *n = t.resolve(path);
  if (!n) return {std::nullopt, kNoEnt};
  // The model's words, then the checks behind "sanity check failed".
  std::string text = n->def->help, limits = limits_line(*n->def);
  if (!text.empty() && !limits.empty()) text += "\n";
  text += limits;
  if (text.empty()) return {std::nullopt, kNoEnt};
  return {url_encode(text), kOk};
}

}  // namespace vornd
