#include "vornd/pending.h"

#include "vornd/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace vornd {
namespace {

bool is_list(const Node &n) {
  return (n.def->ops & kAdd) && n.def->entry;
}

bool settable(const Node &n) {
  return (n.def->ops & kSet) && n.def->type != Type::none;
}

// The lines in the order they must run: an entry is deleted before one of
// the same name is created, and created before its values are set; values
// of nodes that only appear through another value are set last.
struct Lines {
  std::vector<std::string> deletes, creates, sets, late;
};

// Returns the typed path of n, "/" for the root.
std::string typed_path(const Node &n) {
  if (!n.parent) return "/";
  std::string up = typed_path(*n.parent);
  return (up == "/" ? "" : up) + "/" + typed(n.name, true);
}

// Returns true when a new list of definition d is made with entry name.
bool initial(const Def &d, const std::string &name) {
  for (const InitialEntry &e : d.entries)
    if (same_name(e.name, name)) return true;
  return false;
}

// Compares to (and its subtree) with from, its counterpart, which is null
// when to is new: a new node is compared with the defaults it is made with.
void compare(const Node *from, const Node &to, Lines &out) {
  for (const auto &k : to.kids) {
    const Node *was = from ? Tree::find_kid(*from, k->name) : nullptr;
    if (is_list(to) && !was && (from || !initial(*to.def, k->name)))
      out.creates.push_back("create " + typed_path(*k));
    if (settable(*k) && (was ? was->value : k->def->fallback) != k->value)
      (was ? out.sets : out.late)
          .push_back("set " + typed_path(to) + " " + typed(k->name, false) +
                     "=" + typed(k->value, false));
    compare(was, *k, out);
  }
  if (!from || !is_list(*from)) return;
  for (const auto &k : from->kids)
    if (k->def == from->def->entry && !Tree::find_kid(to, k->name))
      out.deletes.push_back("delete " + typed_path(*k));
}

// Returns a name for lines beside store that no file has yet.
std::string fresh_name(const std::string &store, int attempt) {
  std::string name = store + ".unsaved-" + utc_stamp();
  return attempt ? name + "-" + std::to_string(attempt) : name;
}

}  // namespace

std::string typed(std::string_view text, bool component) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
      continue;
    }
    if (c == ' ' || c == '"' || c == '\\' || c == '=' ||
        (component && c == '/'))
      out.push_back('\\');
    out.push_back(static_cast<char>(c));
  }
  return out;
}

std::vector<std::string> pending_changes(const Tree &from, const Tree &to) {
  Lines l;
  compare(&from.root(), to.root(), l);
  std::vector<std::string> all = std::move(l.deletes);
  for (auto *part : {&l.creates, &l.sets, &l.late})
    all.insert(all.end(), part->begin(), part->end());
  return all;
}

std::string write_beside(const std::string &store,
                         const std::vector<std::string> &lines,
                         std::string &why) {
  std::string text;
  for (const std::string &line : lines) text += line + "\n";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = fresh_name(store, attempt);
    int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    size_t off = 0;
    for (ssize_t n = 0; off < text.size(); off += static_cast<size_t>(n)) {
      n = ::write(fd, text.data() + off, text.size() - off);
      if (n < 0 && errno == EINTR) n = 0;
      if (n < 0) break;
    }
    bool ok = off == text.size() && ::fsync(fd) == 0;
    int saved = errno;
    ::close(fd);
    if (ok) return name;
    ::unlink(name.c_str());  // a partial list would mislead
    errno = saved;
    break;
  }
  why = strerror(errno);
  return "";
}

}  // namespace vornd
