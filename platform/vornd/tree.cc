#include "vornd/tree.h"

#include <algorithm>

namespace vornd {
namespace {

constexpr size_t kIndexFrom = 24;  // lists longer than this get an index

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = lower(c);
  return out;
}

// Returns a copy of n and its subtree hung below parent.
std::unique_ptr<Node> copy_node(const Node &n, Node *parent) {
  auto c = std::make_unique<Node>();
  c->name = n.name;
  c->value = n.value;
  c->def = n.def;
  c->parent = parent;
  c->kids.reserve(n.kids.size());
  for (const auto &k : n.kids) c->kids.push_back(copy_node(*k, c.get()));
  return c;
}

// Fills n's kids from its definition: fixed children, then list entries.
void populate(Tree &t, Node &n) {
  for (const Def *d : n.def->children) t.add_kid(n, *d, d->name);
  for (const InitialEntry &e : n.def->entries) {
    Node &entry = t.add_kid(n, *n.def->entry, e.name);
    for (const auto &[param, value] : e.values)
      if (Node *p = Tree::find_kid(entry, param))
        p->value = canonical(*p->def, value);
  }
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

Tree::Tree(const Model &m) : model_(&m), root_(std::make_unique<Node>()) {
  root_->def = &m.root();
  populate(*this, *root_);
  add_kid(*root_, *m.param_def, "param");
  add_kid(*find_kid(*root_, "param"), *m.param_def, "side-effect");
}

Tree Tree::clone() const {
  Tree t;
  t.model_ = model_;
  t.root_ = copy_node(*root_, nullptr);
  return t;
}

Node *Tree::find_kid(const Node &parent, std::string_view name) {
  if (parent.kids.size() > kIndexFrom) {
    if (!parent.index) {
      parent.index =
          std::make_unique<std::unordered_map<std::string, Node *>>();
      for (const auto &k : parent.kids)
        parent.index->emplace(lowered(k->name), k.get());
    }
    auto it = parent.index->find(lowered(name));
    return it == parent.index->end() ? nullptr : it->second;
  }
  for (const auto &k : parent.kids)
    if (same_name(k->name, name)) return k.get();
  return nullptr;
}

Node &Tree::add_kid(Node &parent, const Def &def, std::string_view name) {
  auto n = std::make_unique<Node>();
  n->name = name;
  n->def = &def;
  n->value = def.fallback;
  n->parent = &parent;
  Node &ref = *n;
  parent.kids.push_back(std::move(n));
  if (parent.index) parent.index->emplace(lowered(name), &ref);
  populate(*this, ref);
  return ref;
}

void Tree::remove_kid(Node &kid) {
  Node &parent = *kid.parent;
  parent.index.reset();
  auto it = std::find_if(parent.kids.begin(), parent.kids.end(),
                         [&](const auto &k) { return k.get() == &kid; });
  if (it != parent.kids.end()) parent.kids.erase(it);
}

void Tree::rename(Node &n, std::string_view name) {
  n.name = name;
  if (n.parent) n.parent->index.reset();
}

std::string Tree::path_of(const Node &n) {
  std::vector<const Node *> chain;
  for (const Node *p = &n; p->parent; p = p->parent) chain.push_back(p);
  if (chain.empty()) return "/";
  std::string s;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    s += "/" + (*it)->name;
  return s;
}

size_t Tree::count(const Node &n) {
  size_t c = 1;
  for (const auto &k : n.kids) c += count(*k);
  return c;
}

Node *Tree::resolve(std::string_view path) const {
  Node *n = root_.get();
  for (const std::string &c : split_path(path)) {
    if (c == ".") continue;
    if (c == "..") {
      if (n->parent) n = n->parent;
      continue;
    }
    n = find_kid(*n, c);
    if (!n) return nullptr;
  }
  return n;
}

std::vector<std::string> split_path(std::string_view path) {
  std::vector<std::string> parts;
  std::string raw;
  bool quoted = false;
  auto flush = [&] {
    if (!raw.empty()) parts.push_back(dequote(raw));
    raw.clear();
  };
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '\\' && i + 1 < path.size()) {
      raw.push_back(c);
      raw.push_back(path[++i]);
    } else if (c == '"') {
      quoted = !quoted;
      raw.push_back(c);
    } else if (c == '/' && !quoted) {
      flush();
    } else {
      raw.push_back(c);
    }
  }
  flush();
  return parts;
}

std::string dequote(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size())
      out.push_back(text[++i]);
    else if (text[i] != '"')
      out.push_back(text[i]);
  }
  return out;
}

bool valid_utf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80         ? 1
                 : (c >> 5) == 6  ? 2
                 : (c >> 4) == 14 ? 3
                 : (c >> 3) == 30 ? 4
                                  : 0;
    if (len == 0 || i + len > text.size()) return false;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string url_encode(std::string_view name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                 c == '~' || c == ':' || c == ',' || c == '@' || c == '=';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

}  // namespace vornd
