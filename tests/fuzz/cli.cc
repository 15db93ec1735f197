// Fuzz targets of the shell, run against the library stand-in.
#include <string.h>
#include <talloc.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "lang/parser.h"
#include "support/fake_vornal.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "tree/side_effect.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornd/tree.h"

void check(bool ok, const char *what);

namespace {

size_t creates = 0;  // creates the stand-in accepted

// Refuses a create as vornd does (parent missing, name taken or empty, ".",
// "..", a line end, not UTF-8); nullopt accepts it, counted.
std::optional<fake_vornal::reply> answer_create(const fake_vornal::request &r) {
  if (r.type != VORNAL_MSG_CREATE) return std::nullopt;
  std::string at = r.args[1].value_or(""), name = r.args[2].value_or("");
  cli_node *parent = node_from_path(at.empty() ? "/" : at.c_str());
  if (!parent) return fake_vornal::status_only("ERR result=5 No such node");
  char *plain = dequote_text(name.c_str());
  std::string text = plain ? plain : "";
  cli_free(plain);
  if (!name.empty() &&
      (text == "." || text == ".." || !vornd::valid_utf8(text) ||
       text.find('\n') != text.npos))
    return fake_vornal::status_only("ERR result=22 Invalid argument");
  if (name.empty() || find_child(parent, name.c_str()))
    return fake_vornal::status_only("ERR result=6 File exists");
  return ++creates, std::nullopt;
}

// Returns the nodes below root breadth first, checking links and pointers.
std::vector<cli_node *> walk(cli_node *root) {
  std::vector<cli_node *> all = {root};
  std::set<const cli_node *> seen = {root};
  for (size_t i = 0; i < all.size(); i++) {
    cli_node *last = nullptr;
    for (cli_node *c = all[i]->first_child; c; last = c, c = c->next) {
      check(seen.insert(c).second && c->parent == all[i] &&
                talloc_parent(c) == all[i],
            "child link");
      all.push_back(c);
    }
    check(last == all[i]->last_child, "last_child");
  }
  check(seen.count(cli_state.cwd), "cwd outside the tree");
  for (const cli_node *n : all)
    check(!n->matches || seen.count(n->matches), "dangling matches");
  return all;
}

// Checks what a handler reads of a parse, tree holding the nodes.
void check_parse(const parsed_command *pc, std::vector<cli_node *> &tree) {
  check(!pc->created || pc->target == pc->created, "created node");
  if (!cli_opts.interactive)
    return check(!pc->target && !pc->path_node, "batch parse resolved nodes");
  tree.push_back(pc->created);
  check(std::count(tree.begin(), tree.end(), pc->target) &&
            (!pc->path_node || pc->target == pc->path_node) &&
            (!pc->path || pc->path[0] == '/'),
        "target or path");
}

}  // namespace

// Parses byte 0 (bit 0 interactive, bit 1 completion, bits 2-4 the current
// node) and a line over a small tree; a refused create takes its node back.
void fuzz_parse_line(std::string_view in) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  if (in.empty() || !quiet) return;
  cli_reset_records();
  cli_opts.interactive = in[0] & 1;
  std::vector<cli_node *> t = {create_node(nullptr, nullptr, 0)};
  std::tuple<int, const char *, int> shape[] = {
      {0, "net", 0x09},    {1, "eth0", 0x4b},    {2, "mtu", 0x34},
      {2, "mode", 0x30},   {0, "netmask", 0x30}, {0, "x/y", 0x10},
      {0, "My node", 0x08}};
  for (auto [up, name, flags] : shape)
    t.push_back(create_node(t[up], name, flags));
  strlist_append_talloc(t[4], &t[4]->choices, "auto");
  strlist_append_talloc(t[4], &t[4]->choices, "manual");
  t[7]->hidden = 1;
  cli_state.root = t[0];
  cli_state.cwd = t[(uint8_t(in[0]) >> 2) % t.size()];
  fake_vornal::reset();
  fake_vornal::set_default(fake_vornal::status_only("OK"));
  fake_vornal::respond_with(answer_create);
  creates = 0;
  parsed_command *pc =
      parse_command_line(std::string(in.substr(1)).c_str(), in[0] & 2 ? 1 : 0);
  bool kept = pc && pc->created;  // vornd took it, the shell could not place it
  check(walk(t[0]).size() == t.size() + kept, "creation left behind");
  if (pc) check_parse(pc, t);
  check(fake_vornal::request_texts(VORNAL_MSG_DELETE).size() + kept <= creates,
        "more deletes than creates");
  free_parsed_command(pc);  // LeakSanitizer shows any block left over
  free_tree();
}

// Splits, dequotes and URL-decodes byte 0's settings and the rest (an
// unterminated buffer: ASan flags reads past it), checking round trips.
void fuzz_text_words(std::string_view in) {
  if (in.empty()) return;
  const size_t n = in.size() - 1, mode = uint8_t(in[0]);
  std::vector<char> buf(in.begin() + 1, in.end());
  const char *bytes = buf.data(), sep = " /="[mode % 3],
             quote = mode & 4 ? '"' : 0;
  char **raw = nullptr, **decoded = nullptr;
  int count = split_words(bytes, n, &raw, sep, quote, '\\', mode & 8, WORD_RAW);
  check(count == split_words(bytes, n, &decoded, sep, quote, '\\', mode & 8,
                             WORD_DECODE) &&
            count >= 0 && size_t(count) <= (n + 2) / 2 && (n == 0) == !raw,
        "word count");
  for (int i = 0; i < count; ++i) {
    check(strlen(decoded[i]) <= strlen(raw[i]) && raw[i][0] != sep, "word");
    cli_free(raw[i]);
    cli_free(decoded[i]);
  }
  cli_free(raw);
  cli_free(decoded);
  std::string text(bytes, strnlen(bytes, n)), escaped, encoded;
  const char *digits = mode & 16 ? "0123456789abcdef" : "0123456789ABCDEF";
  for (unsigned char c : text) {
    escaped += std::string(c == '\\' || c == '"', '\\') + char(c);
    encoded += {'%', digits[c >> 4], digits[c & 15]};
  }
  for (char *s : {dequote(escaped.data(), escaped.size(), '\\', '"'),
                  url_decode(encoded.c_str())}) {
    check(s == text, "escape round trip");
    cli_free(s);
  }
}

// Loads a tree from NUL-split pieces (the listing, then descriptions, 0x01
// for none), byte 0 picking a reload and a side effect; checks its links.
void fuzz_tree_load(std::string_view in) {
  if (in.empty()) return;
  const uint8_t options = in[0];
  std::vector<std::string> pieces(1);
  for (char c : in.substr(1))
    c ? void(pieces.back() += c) : void(pieces.emplace_back());
  cli_reset_records();
  cli_opts.interactive = options & 1;
  fake_vornal::reset();
  size_t turn = 0;
  fake_vornal::respond_with(
      [&](const fake_vornal::request &q) -> std::optional<fake_vornal::reply> {
        if (q.type == VORNAL_MSG_LIST) return fake_vornal::answer(pieces[0]);
        if (pieces.size() < 2) return fake_vornal::status_only("OK");
        const std::string &p = pieces[1 + turn++ % (pieces.size() - 1)];
        if (q.type != VORNAL_MSG_GET && !p.empty() && p[0] == 1)
          return fake_vornal::status_only("OK");
        return fake_vornal::answer(p);
      });
  build_tree();
  auto pick = [](unsigned n) {  // the n-th node, wrapping
    std::vector<cli_node *> all = walk(cli_state.root);
    return all[n % all.size()];
  };
  if (options & 2) {  // a reload while the current node may be inside
    cli_state.cwd = pick(options >> 4);
    load_subtree(pick(options >> 2));
  }
  cli_node *entry = pick(options >> 3);
  if (options & 4 && entry != cli_state.root)
    refresh_side_effect(entry->name, "p");
  walk(cli_state.root);
  free_tree();
  check(fake_vornal::live_handles() == 0, "handle leaked");
}
