#include "vornd/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_set>

#include "vornd/effects.h"
#include "vornd/limits.h"

namespace vornd {
namespace {

using json = nlohmann::ordered_json;

bool is_list(const Node &n) {
  return (n.def->ops & kAdd) && n.def->entry;
}

bool settable(const Node &n) {
  return (n.def->ops & kSet) && n.def->type != Type::none;
}

// Appends text as a JSON string. Texts are valid UTF-8 (the daemon refuses
// others), so only quotes, backslashes and control bytes need escapes.
void quote(std::string &out, std::string_view text) {
  static const char hex[] = "0123456789abcdef";
  out.push_back('"');
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      out += "\\u00";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
}

// Appends n's changeable state as a JSON object; returns false, appending
// nothing, when it has none. Written directly: a document tree of a large
// configuration would cost more memory than the configuration itself.
bool dump(const Node &n, std::string &out) {
  size_t start = out.size();
  out += "\n{";
  const char *sep = "";
  if (n.parent) {
    out += "\"name\":";
    quote(out, n.name);
    sep = ",";
  }
  if (settable(n)) {
    out += sep;
    out += "\"value\":";
    quote(out, n.value);
    sep = ",";
  }
  if (is_list(n)) {
    out += sep;
    out += "\"list\":true";
    sep = ",";
  }
  size_t kids_at = out.size();
  out += sep;
  out += "\"kids\":[";
  bool any = false;
  for (const auto &k : n.kids) {
    size_t before = out.size();
    if (any) out.push_back(',');
    if (dump(*k, out) || is_list(n)) {
      if (out.size() == before + (any ? 1 : 0)) {  // a bare list entry
        out += "\n{\"name\":";
        quote(out, k->name);
        out.push_back('}');
      }
      any = true;
    } else {
      out.resize(before);
    }
  }
  if (any) {
    out.push_back(']');
  } else {
    out.resize(kids_at);
    if (!settable(n) && !is_list(n) && n.parent) {
      out.resize(start);
      return false;
    }
  }
  out.push_back('}');
  return true;
}

// Applies a store while it is parsed, so that a large store never exists
// as a document tree. Each kid object must name itself first, as the writer
// does.
class Reader : public nlohmann::json_sax<json> {
 public:
  Reader(Tree &t, std::string_view text) : t_(t), text_(text) {}
  std::string error;

  bool null() override { return scalar(); }
  bool boolean(bool b) override {
    if (in_node() && key_ == "list") top().list = b;
    return scalar();
  }
  bool number_integer(number_integer_t v) override { return number(v); }
  bool number_unsigned(number_unsigned_t v) override {
    return number(static_cast<int64_t>(v));
  }
  bool number_float(number_float_t, const string_t &) override {
    return scalar();
  }
  bool binary(binary_t &) override { return scalar(); }
  bool string(string_t &s) override;
  bool start_object(std::size_t) override;
  bool key(string_t &k) override {
    key_ = k;
    if (in_node() && top().parent && !top().named && k != "name")
      return fail("a stored node must give its name first");
    return true;
  }
  bool end_object() override;
  bool start_array(std::size_t) override {
    if (skip_ || !in_node() || key_ != "kids") return enter_skip();
    top().in_kids = true;
    return true;
  }
  bool end_array() override {
    if (skip_) return --skip_, true;
    if (in_node()) top().in_kids = false;
    return true;
  }
  bool parse_error(std::size_t pos, const std::string &,
                   const nlohmann::detail::exception &e) override {
    error = ":" + std::to_string(line_of(text_, pos)) + ": " + e.what();
    return false;
  }
  bool finished() const { return version_ == 1; }

 private:
  struct Ctx {
    Node *node = nullptr;  // null: a stored node the model no longer has
    bool parent = false;   // a kid (named by its "name")
    bool named = false, list = false, in_kids = false;
    std::unordered_set<const Node *> seen;  // entries a list keeps
  };
  Ctx &top() { return stack_.back(); }
  bool in_node() const { return !skip_ && !stack_.empty(); }
  bool scalar() {
    key_.clear();
    return true;
  }
  bool enter_skip() {
    ++skip_;
    return true;
  }
  bool number(int64_t v) {
    if (!skip_ && stack_.empty() && doc_ && key_ == "version") version_ = v;
    return scalar();
  }
  bool fail(const std::string &what) {
    error = ": " + what;
    return false;
  }
  bool name_kid(const std::string &name);
  void prune(Ctx &c);

  Tree &t_;
  std::string_view text_;
  std::vector<Ctx> stack_;
  std::string key_;
  int skip_ = 0;
  bool doc_ = false;
  int64_t version_ = 0;
};

bool Reader::start_object(std::size_t) {
  if (skip_) return enter_skip();
  if (!doc_ && stack_.empty()) return doc_ = true;
  if (stack_.empty() && key_ == "root") {
    Ctx c;
    c.node = &t_.root();
    c.named = true;
    stack_.push_back(std::move(c));
    return true;
  }
  if (!stack_.empty() && top().in_kids) {
    Ctx c;
    c.parent = true;
    stack_.push_back(std::move(c));
    return true;
  }
  return enter_skip();
}

bool Reader::name_kid(const std::string &name) {
  Ctx &kid = top(), &parent = stack_[stack_.size() - 2];
  kid.named = true;
  Node *p = parent.node;
  if (!p) return true;
  kid.node = Tree::find_kid(*p, name);
  if (!kid.node && is_list(*p)) {
    if (!valid_utf8(name) || name.empty() ||
        !check_entry_name(*p->def, name).empty())
      return fail("bad entry name");
    kid.node = &t_.add_kid(*p, *p->def->entry, name);
  }
  if (kid.node && is_list(*p)) parent.seen.insert(kid.node);
  return true;
}

bool Reader::string(string_t &s) {
  if (!in_node()) return scalar();
  if (key_ == "name" && top().parent && !top().named) {
    key_.clear();
    return name_kid(s);
  }
  Node *n = top().node;
  if (key_ == "value" && n && settable(*n)) {
    if (!valid_utf8(s) || !check_value(*n->def, s).empty())
      return fail(Tree::path_of(*n) + ": value '" + s + "' fails its checks");
    n->value = canonical(*n->def, s);
  }
  return scalar();
}

// Drops the entries of a stored list that the store does not name.
void Reader::prune(Ctx &c) {
  Node &n = *c.node;
  auto gone = [&](const std::unique_ptr<Node> &k) {
    return k->def == n.def->entry && !c.seen.count(k.get());
  };
  n.kids.erase(std::remove_if(n.kids.begin(), n.kids.end(), gone),
               n.kids.end());
  n.index.reset();
}

bool Reader::end_object() {
  if (skip_) return --skip_, true;
  if (stack_.empty()) return true;  // the document itself
  Ctx &c = top();
  if (c.parent && !c.named) return fail("a stored node has no name");
  if (c.list && c.node && is_list(*c.node)) prune(c);
  stack_.pop_back();
  key_.clear();
  return true;
}

std::string errno_text(const std::string &what) {
  return what + ": " + strerror(errno);
}

// Returns "" after writing all of data to fd.
std::string write_all(int fd, const std::string &data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno_text("write");
    off += static_cast<size_t>(n);
  }
  return "";
}

std::string folder_of(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string store_text(const Tree &t) {
  std::string out = "{\"version\":1,\"root\":";
  dump(t.root(), out);
  out += "}\n";
  return out;
}

std::string apply_store_text(Tree &t, std::string_view text,
                             const std::string &origin) {
  Tree work = t.clone();
  Reader r(work, text);
  bool ok = json::sax_parse(text, &r);
  if (!ok || !r.error.empty())
    return origin + (r.error.empty() ? ": unreadable" : r.error);
  if (!r.finished()) return origin + ": not a version 1 store";
  settle(work);
  t = std::move(work);
  return "";
}

std::string load_store(Tree &t, const std::string &path) {
  std::ifstream in(path);
  if (!in) {
    if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) return "";
    return errno_text(path);
  }
  std::stringstream ss;
  ss << in.rdbuf();
  return apply_store_text(t, ss.str(), path);
}

std::string stale_temp_of(const std::string &path) {
  return path + ".tmp";
}

std::string utc_stamp() {
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tm;
  gmtime_r(&now, &tm);
  strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
  return stamp;
}

std::string set_aside(const std::string &path) {
  std::string aside = path + ".bad-" + utc_stamp();
  if (::rename(path.c_str(), aside.c_str()) != 0) return "";
  return aside;
}

std::string save_store(const Tree &t, const std::string &path) {
  std::string tmp = stale_temp_of(path);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return errno_text(tmp);
  std::string err = write_all(fd, store_text(t));
  if (err.empty() && ::fsync(fd) != 0) err = errno_text("fsync");
  if (::close(fd) != 0 && err.empty()) err = errno_text("close");
  if (err.empty() && ::rename(tmp.c_str(), path.c_str()) != 0)
    err = errno_text("rename");
  if (!err.empty()) {
    ::unlink(tmp.c_str());
    return err;
  }
  int dir = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return "";
}

}  // namespace vornd
