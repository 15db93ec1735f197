// The fuzz targets: each fuzz_<name> feeds a reader of outside input and
// checks what must hold for any input; the shell's use the library stand-in.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "connection.h"
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
#include "vornd/auth.h"
#include "vornd/handlers.h"
#include "vornd/store.h"
#include "vornd/tree.h"
#include "wire/frame.h"

// Aborts, naming the invariant, unless ok.
static void check(bool ok, const char *what) {
  if (!ok) fprintf(stderr, "fuzz invariant broken: %s\n", what), abort();
}

// Refuses the creates vornd refuses, whose names the shell cannot place.
static std::optional<fake_vornal::reply> refuse_create(
    const fake_vornal::request &r) {
  if (r.type != VORNAL_MSG_CREATE) return std::nullopt;
  std::string at = r.args[1].value_or(""), name = r.args[2].value_or("");
  std::string text = vornd::dequote(name);
  cli_node *parent = node_from_path(at.empty() ? "/" : at.c_str());
  if (!parent || name.empty() || find_child(parent, name.c_str()) ||
      text == "." || text == ".." || !vornd::valid_utf8(text) ||
      text.find('\n') != text.npos)
    return fake_vornal::status_only("ERR result=22 Invalid argument");
  return std::nullopt;
}

// Returns the tree's nodes breadth first, checking each one's links.
static std::vector<cli_node *> walk() {
  std::vector<cli_node *> all = {cli_state.root};
  std::set<const cli_node *> seen = {cli_state.root};
  for (size_t i = 0; i < all.size(); i++)
    for (cli_node *c = all[i]->first_child; c; c = c->next)
      check(seen.insert(c).second && c->parent == all[i] &&
                (c->next || c == all[i]->last_child),
            "child link"),
          all.push_back(c);
  return check(seen.count(cli_state.cwd), "cwd outside the tree"), all;
}

// Parses the rest over a small tree as byte 0 says (mode, completion, cwd).
void fuzz_parse_line(std::string_view in) {
  static bool quiet = freopen("/dev/null", "w", stdout) != nullptr;
  if (in.empty() || !quiet) return;
  cli_reset_records();
  cli_opts.interactive = in[0] & 1;
  std::vector<cli_node *> t = {cli_state.root = create_node(nullptr, 0, 0)};
  std::tuple<int, const char *, int> shape[] = {
      {0, "net", 0x09},    {1, "eth0", 0x4b},    {2, "mtu", 0x34},
      {2, "mode", 0x30},   {0, "netmask", 0x30}, {0, "x/y", 0x10},
      {0, "My node", 0x08}};
  for (auto [up, name, flags] : shape)
    t.push_back(create_node(t[up], name, flags));
  strlist_append_talloc(t[4], &t[4]->choices, "auto");
  t[7]->hidden = 1;
  cli_state.cwd = t[(uint8_t(in[0]) >> 2) % t.size()];
  fake_vornal::reset();
  fake_vornal::set_default(fake_vornal::status_only("OK"));
  fake_vornal::respond_with(refuse_create);
  parsed_command *pc =
      parse_command_line(std::string(in.substr(1)).c_str(), in[0] & 2 ? 1 : 0);
  bool kept = pc && pc->created;  // vornd took it, the shell could not place it
  check(walk().size() == t.size() + kept, "creation left behind");
  free_parsed_command(pc);  // LeakSanitizer shows any block left over
  free_tree();
}

// Splits the rest unterminated (for ASan) as byte 0 says, and URL-decodes it.
void fuzz_text_words(std::string_view in) {
  if (in.empty()) return;
  const size_t mode = uint8_t(in[0]);
  std::vector<char> bytes(in.begin() + 1, in.end());
  char **words = nullptr;
  int count = split_words(bytes.data(), bytes.size(), &words, " /="[mode % 3],
                          mode & 4 ? '"' : 0, '\\', mode & 8,
                          mode & 32 ? WORD_DECODE : WORD_RAW);
  for (int i = 0; i < count; ++i) cli_free(words[i]);
  cli_free(words);
  std::string text = std::string(in.substr(1)).c_str(), encoded;
  const char *digits = mode & 16 ? "0123456789abcdef" : "0123456789ABCDEF";
  for (unsigned char c : text) encoded += {'%', digits[c >> 4], digits[c & 15]};
  char *decoded = url_decode(encoded.c_str());
  check(decoded == text, "URL-decoding round trip");
  cli_free(decoded);
  int n = 0, m = split_path_line(text.c_str(), &words);
  char *last = path_line_last(text.c_str(), &n);
  check(n == m && (!m || strcmp(last, words[m - 1]) == 0), "last component");
  for (int i = 0; i < m; ++i) cli_free(words[i]);
  cli_free(m ? words : nullptr);
  cli_free(last);
}

// Returns true when no node has two children of the same name ignoring
// case, among names without quotes or escapes, which compare as they stand
// (but "." and "..", which name no child).
static bool plain_names_unique() {
  for (cli_node *n : walk()) {
    std::set<std::string> names;
    for (cli_node *c = n->first_child; c; c = c->next) {
      std::string name = c->name;
      for (char &ch : name) ch = static_cast<char>(tolower(ch));
      if (!strpbrk(c->name, "\\\"") && name != "." && name != ".." &&
          !names.insert(name).second)
        return false;
    }
  }
  return true;
}

// Loads a tree from NUL-split pieces: a listing, then descriptions (\1: none).
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
        size_t n = pieces.size() - 1;
        const std::string &p = pieces[n ? 1 + turn++ % n : 0];
        if (!n || (q.type != VORNAL_MSG_GET && p[0] == 1))
          return fake_vornal::status_only("OK");
        return fake_vornal::answer(p);
      });
  build_tree();
  check(plain_names_unique(), "a listed name created twice");
  auto pick = [](unsigned n) { return walk()[n % walk().size()]; };
  if (options & 2) {  // a reload while the current node may be inside
    cli_state.cwd = pick(options >> 4);
    load_subtree(pick(options >> 2));
  }
  if (cli_node *entry = pick(options >> 3); options & 4 && entry->parent)
    refresh_side_effect(entry->name, "p");
  walk();
  free_tree();
  check(fake_vornal::live_handles() == 0, "handle leaked");
}

// Returns the demo model, which must load.
static const vornd::Model &demo() {
  static std::ifstream file(VELMAR_DEMO_MODEL);
  static std::string error, text(std::istreambuf_iterator<char>(file), {});
  static auto model = vornd::load_model(text, "demo", error);
  return check(model.has_value(), "demo model refused"), **model;
}

// Checks that the store of running reads back, on model, to the same text.
static void check_storable(const vornd::Tree &running,
                           const vornd::Model &model) {
  std::string text = vornd::store_text(running);
  vornd::Core again(model, "");
  check(vornd::apply_store_text(again.running(), text, "again").empty() &&
            vornd::store_text(again.running()) == text,
        "store does not read back");
}

// Applies a store: refused, the tree is unchanged; read, it stores back.
void fuzz_vornd_store(std::string_view in) {
  vornd::Tree t(demo());
  std::string before = vornd::store_text(t);
  if (!vornd::apply_store_text(t, in, "fuzz").empty())
    return check(vornd::store_text(t) == before, "refused store changed");
  check_storable(t, demo());
}

// Loads a model: refused naming its origin, or its tree stores back.
void fuzz_vornd_model(std::string_view in) {
  std::string error;
  auto m = vornd::load_model(std::string(in), "fuzz.json", error);
  if (!m) return check(error.rfind("fuzz.json", 0) == 0, "error origin");
  vornd::Core core(**m, "");  // settles mirrors and reveals, as at start
  check_storable(core.running(), **m);
}

// Reads a users file: refused naming its line, or without an empty name.
void fuzz_vornd_users(std::string_view in) {
  std::string error;
  std::optional<vornd::Users> users = vornd::parse_users(in, "u", error);
  check(users ? !users->count("") : error.rfind("u:", 0) == 0,
        "empty user name, or an error not naming its origin");
}

// Serves requests in a session on the demo model: the running tree changes
// only by a commit, and the result stores back.
void fuzz_vornd_request(std::string_view in) {
  vornd::Core core(demo(), "");
  vornd::Session s = core.open_session("");
  std::string before = vornd::store_text(core.running());
  bool committed = false;
  wire::FrameReader reader;
  reader.feed(in);
  for (wire::Frame f; reader.next(f) == wire::DecodeStatus::ok &&
                      f.kind == wire::Kind::request;)
    committed |= f.request.type == vornd::kCommit, core.handle(s, f.request);
  check(committed || vornd::store_text(core.running()) == before,
        "the running tree changed without a commit");
  check_storable(core.running(), demo());
}

// Decodes the rest fed in two pieces cut at byte 0 (odd: the login limit).
void fuzz_wire_frame(std::string_view in) {
  if (in.empty()) return;
  std::string_view all = in.substr(1);
  size_t cut = uint8_t(in[0]) % (all.size() + 1);
  wire::FrameReader reader;
  reader.set_limit(in[0] & 1 ? 4096 : wire::kMaxFrame);
  wire::Frame f;
  for (std::string_view piece : {all.substr(0, cut), all.substr(cut)})
    for (reader.feed(piece); reader.next(f) == wire::DecodeStatus::ok;) {
    }
  (void)wire::decode_hello(all);
}

// Plays the daemon after the greeting: each answer has the id asked for.
void fuzz_vornal_reply(std::string_view in) {
  int sv[2];  // the library's end and the daemon's
  if (in.size() > 64 * 1024 || socketpair(AF_UNIX, SOCK_STREAM, 0, sv)) return;
  check(write(sv[1], in.data(), in.size()) == ssize_t(in.size()), "write");
  shutdown(sv[1], SHUT_WR);
  vornal::Fd fd(sv[0]);
  check(vornal::make_blocking(fd, 20) == 0, "blocking");
  std::optional<vornal::Connection> c(std::in_place, std::move(fd), 200);
  c->send_noop();  // id 1
  for (uint32_t id = 2; id < 6; c->poll_incoming(), ++id) {
    auto r = c->exchange(VORNAL_MSG_GET, {std::nullopt, "/a", {}, "b", {}});
    check(!r || r->id == id, "answer to another request");
  }
  c.reset();  // before the daemon's end closes: no write to a closed peer
  close(sv[1]);
}
