#include "vornd/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "vornd/effects.h"

namespace vornd {
namespace {

using json = nlohmann::ordered_json;

bool is_list(const Node &n) {
  return (n.def->ops & kAdd) && n.def->entry;
}

// Returns n's changeable state, or null when it has none.
json dump(const Node &n) {
  json j = json::object();
  if ((n.def->ops & kSet) && n.def->type != Type::none) j["value"] = n.value;
  json kids = json::array();
  for (const auto &k : n.kids) {
    json kj = dump(*k);
    if (!kj.is_null())
      kids.push_back(std::move(kj));
    else if (is_list(n))
      kids.push_back(json{{"name", k->name}});
  }
  if (is_list(n)) j["list"] = true;
  if (!kids.empty()) j["kids"] = std::move(kids);
  if (j.empty()) return nullptr;
  if (n.parent) j["name"] = n.name;
  return j;
}

struct StoreError {
  std::string what;
};

// Applies stored state s to node n.
void apply(Tree &t, Node &n, const json &s) {
  std::string where = Tree::path_of(n);
  if (s.contains("value") && (n.def->ops & kSet) && n.def->type != Type::none) {
    std::string v = s["value"].get<std::string>();
    if (!check_value(*n.def, v).empty())
      throw StoreError{where + ": value '" + v + "' fails its checks"};
    n.value = canonical(*n.def, v);
  }
  const json kids = s.value("kids", json::array());
  if (s.value("list", false) && is_list(n)) {
    // The stored entries replace the model's own.
    for (size_t i = n.kids.size(); i-- > 0;)
      if (n.kids[i]->def == n.def->entry) Tree::remove_kid(*n.kids[i]);
    for (const json &k : kids)
      t.add_kid(n, *n.def->entry, k.at("name").get<std::string>());
  }
  for (const json &k : kids)
    if (Node *c = Tree::find_kid(n, k.at("name").get<std::string>()))
      apply(t, *c, k);
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
  json j = dump(t.root());
  json doc{{"version", 1}, {"root", j.is_null() ? json::object() : j}};
  return doc.dump(1) + "\n";
}

std::string apply_store_text(Tree &t, std::string_view text,
                             const std::string &origin) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error &e) {
    return origin + ":" + std::to_string(line_of(text, e.byte)) + ": " +
           e.what();
  }
  Tree work = t.clone();
  try {
    if (!doc.is_object() || doc.value("version", 0) != 1)
      return origin + ": not a version 1 store";
    apply(work, work.root(), doc.at("root"));
  } catch (const StoreError &e) {
    return origin + ": " + e.what;
  } catch (const json::exception &e) {
    return origin + ": " + e.what();
  }
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

std::string save_store(const Tree &t, const std::string &path) {
  std::string tmp = path + ".tmp";
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
