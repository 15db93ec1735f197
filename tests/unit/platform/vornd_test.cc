// The daemon's core on the small test model: lookups, the checks and
// refusals no client provokes, side effects, the model, store and users
// files and the command line. The structure and values transcripts show
// vornd's answers to paths and operations with cli -D.
#include <crypt.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "vornd/auth.h"
#include "vornd/effects.h"
#include "vornd/handlers.h"
#include "vornd/options.h"
#include "vornd/store.h"
#include "vornd/tree.h"

namespace {

using vornd::Tree;
const std::string kNoEnt = "ERR No such file or directory";
const std::string kInsane = "ERR sanity check failed";

// A creatable list that a status list mirrors, a parameter that reveals a
// node, and a few typed values.
const char *kModel = R"json({"nodes": [
 {"name": "sys", "help": "System.", "children": [
   {"name": "name", "type": "string", "default": "box", "min_len": 1,
    "max_len": 8, "pattern": "[a-z0-9]+", "help": "Host name."},
   {"name": "level", "type": "integer", "min": 1, "max": 5, "default": 3,
    "help": "A level."},
   {"name": "zone", "type": "choice", "choices": ["utc", "cet"], "help": "Zone."},
   {"name": "note", "type": "string", "help": "Free text."},
   {"name": "word", "type": "string", "pattern": "[a-z]*", "help": "A word."}]},
 {"name": "ports", "ops": "adhl", "mirror": "/state/ports", "help": "Ports.",
  "entry": {"ops": "hlr", "help": "A port.", "children": [
    {"name": "mtu", "type": "integer", "min": 68, "max": 9000, "default": 1500,
     "help": "MTU."},
    {"name": "tap", "type": "boolean", "help": "Tap.",
     "reveal": {"when": "true", "at": "/state", "node":
       {"name": "tapping", "help": "Taps.", "type": "string", "ops": "hg"}}}]},
  "entries": [{"name": "a", "values": {"mtu": 1400}}, "b"]},
 {"name": "state", "help": "Status.", "children": [
   {"name": "ports", "help": "Port states.", "entry": {"help": "State.",
    "children": [{"name": "link", "type": "string", "ops": "hg",
                  "help": "Link."}]}}]}
]})json";

class Vornd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto m = vornd::load_model(kModel, "test.json", error);
    ASSERT_TRUE(m) << error;
    model = std::move(*m);
    core = std::make_unique<vornd::Core>(*model, "");
  }
  Tree &t() { return core->running(); }
  std::string set(const char *path, const char *p, wire::Text v) {
    return vornd::do_set(t(), path, p, v, true);
  }
  // Returns the value, or the status when there is none.
  static std::string value(const Tree &t, const char *path, const char *p) {
    vornd::Answer a = vornd::do_get(t, path, p);
    return a.reply ? *a.reply : a.status;
  }
  std::string handle(vornd::Session &s, uint16_t type, wire::Text a2 = {},
                     wire::Text a4 = {}, wire::Text a5 = {}) {
    wire::Request q;
    q.type = type;
    q.args = {std::nullopt, a2, std::nullopt, a4, a5};
    return core->handle(s, q).status;
  }
  std::unique_ptr<vornd::Model> model;
  std::unique_ptr<vornd::Core> core;
};

// Clones show in commit and revert below.
TEST_F(Vornd, FirstMatchWinsAndLongListsStayConsistent) {
  vornd::Node &ports = *t().resolve("/ports");
  const vornd::Def &entry = *ports.def->entry;
  vornd::Node &upper = t().add_kid(ports, entry, "Dup");
  t().add_kid(ports, entry, "dup");
  EXPECT_EQ(t().resolve("/ports/DUP"), &upper);
  // Past the indexing threshold lookups must follow adds, removes, renames.
  for (int i = 0; i < 100; ++i)
    t().add_kid(ports, entry, "p" + std::to_string(i));
  EXPECT_EQ(t().resolve("/ports/dup"), &upper);
  Tree::remove_kid(*t().resolve("/ports/p77"));
  EXPECT_EQ(t().resolve("/ports/p77"), nullptr);
  Tree::rename(*t().resolve("/ports/p5"), "Renamed");
  EXPECT_EQ(t().resolve("/ports/p5"), nullptr);
  EXPECT_NE(t().resolve("/ports/renamed"), nullptr);
  vornd::Node &late = t().add_kid(ports, entry, "late");
  EXPECT_EQ(t().resolve("/ports/LATE"), &late);
}

// Paths with quotes, escapes, case, dots and extra slashes, and the
// statuses of gets, sets (ranges, lengths, patterns, choices, booleans,
// matches, rights, a batch applied whole or not at all), creates, deletes,
// renames and help show with cli -D in the structure and values
// transcripts; a reset to the default, commit and revert in the terminal
// tests, descriptions in the e2e tree test. Here is what no script reaches.
TEST_F(Vornd, RefusalsAndTextsNoScriptReaches) {
  EXPECT_EQ(set("/sys", "note", "bad\xc3"), kInsane);       // broken UTF-8
  EXPECT_EQ(set("/sys", "note", "\xed\xa0\x80"), kInsane);  // a surrogate
  // Patterns are not tried on values that would overflow the stack.
  EXPECT_EQ(set("/sys", "word", std::string(1024, 'a')), "OK");
  EXPECT_EQ(set("/sys", "word", std::string(1 << 20, 'a')), kInsane);
  EXPECT_EQ(vornd::do_create(t(), "/ports", "x\xff"),
            "ERR result=22 Invalid argument");
  vornd::Session s = core->open_session("u");
  EXPECT_EQ(handle(s, 51), "ERR No batch open");
  EXPECT_EQ(handle(s, 77), "ERR Unknown request");
  // No parameter name: the node's own value.
  EXPECT_EQ(value(t(), "/sys/level", ""), "3");
  EXPECT_EQ(value(t(), "/sys", ""), kNoEnt);
  EXPECT_EQ(vornd::url_encode("50%+\\\""), "50%25%2B%5C%22");
  EXPECT_EQ(vornd::url_encode("eth0.1-x_y"), "eth0.1-x_y");
  ASSERT_EQ(vornd::do_create(t(), "/ports", "x\\/y z"), "OK");
  EXPECT_EQ(
      *vornd::do_list(t(), "/ports").reply,
      "a\na/mtu\na/tap\nb\nb/mtu\nb/tap\nx%2Fy+z\nx%2Fy+z/mtu\nx%2Fy+z/tap");
  vornd::Answer leaf = vornd::do_list(t(), "/ports/a/mtu");
  EXPECT_FALSE(leaf.reply);
  EXPECT_EQ(leaf.status, "OK");
}

// The mirrored list follows creates, deletes and renames in the terminal
// tests (/status/interfaces).
TEST_F(Vornd, SideEffectEntriesFollowTheList) {
  EXPECT_EQ(value(t(), "/param/side-effect/ports", ""), ".state.ports");
  EXPECT_EQ(value(t(), "/param/side-effect/ports/a", "tap"), ".state");
  ASSERT_EQ(vornd::do_create(t(), "/ports", "c"), "OK");
  EXPECT_EQ(value(t(), "/param/side-effect/ports/c", "tap"), ".state");
  ASSERT_EQ(vornd::do_rename(t(), "/ports", "c", "d"), "OK");
  EXPECT_EQ(t().resolve("/param/side-effect/ports/c"), nullptr);
  EXPECT_EQ(value(t(), "/param/side-effect/ports/d", "tap"), ".state");
  ASSERT_EQ(vornd::do_delete(t(), "/ports", "a"), "OK");
  EXPECT_EQ(t().resolve("/param/side-effect/ports/a"), nullptr);
}

TEST_F(Vornd, RevealAddsAndRemovesNodes) {
  // Two entries reveal the same node: it comes with the first "true" and
  // stays while either holds "true".
  ASSERT_EQ(set("/ports/a", "tap", "true"), "OK");
  ASSERT_NE(t().resolve("/state/tapping"), nullptr);
  ASSERT_EQ(set("/ports/b", "tap", "true"), "OK");
  ASSERT_EQ(set("/ports/a", "tap", "false"), "OK");
  EXPECT_NE(t().resolve("/state/tapping"), nullptr);
  ASSERT_EQ(set("/ports/b", "tap", std::nullopt), "OK");
  EXPECT_EQ(t().resolve("/state/tapping"), nullptr);
  // A staged set reveals nothing until its batch closes.
  EXPECT_EQ(vornd::do_set(t(), "/ports/b", "tap", "on", false), "OK");
  EXPECT_EQ(t().resolve("/state/tapping"), nullptr);
}

TEST_F(Vornd, ModelErrorsNameFileAndLine) {
  const char *cases[][2] = {
      {"{\"nodes\": [\n\n\n{\"name\": \"a\",}]}", "m.json:4:"},
      {"{\"nodes\": [{\"name\": \"a\", \"type\": \"float\"}]}",
       "m.json: /a: unknown type 'float'"},
      {"{\"nodes\": [{\"name\": \"a\", \"children\": [{\"name\": \"b\", "
       "\"ops\": \"gx\"}]}]}",
       "m.json: /a/b: unknown operation letter 'x'"},
      {"{\"nodes\": [{\"name\": \"p\", \"type\": \"integer\", \"min\": 5, "
       "\"default\": 1}]}",
       "m.json: /p: default '1': out of range"},
      {"{\"nodes\": [{\"name\": \"s\", \"type\": \"string\", \"pattern\": "
       "\"(\"}]}",
       "m.json: /s: bad pattern"},
      {"[]", "m.json: /: the model needs a \"nodes\" array"},
  };
  for (const auto &c : cases) {
    std::string error;
    EXPECT_FALSE(vornd::load_model(c[0], "m.json", error));
    EXPECT_EQ(error.substr(0, strlen(c[1])), c[1]) << c[0];
  }
}

TEST_F(Vornd, StoreRoundTripsValuesEntriesAndOddTexts) {
  const std::string odd = "q\"b\\s\tcaf\xc3\xa9\x01";
  ASSERT_EQ(vornd::do_create(t(), "/ports", "x/y"), "OK");
  ASSERT_EQ(vornd::do_create(t(), "/ports", "q\\\"b\\\\s\tcaf\xc3\xa9\x01"),
            "OK");
  ASSERT_EQ(vornd::do_delete(t(), "/ports", "a"), "OK");
  ASSERT_EQ(set("/ports/\"x/y\"", "mtu", "9000"), "OK");
  ASSERT_EQ(set("/ports/b", "tap", "true"), "OK");
  ASSERT_EQ(set("/sys", "note", odd), "OK");
  Tree fresh(*model);
  ASSERT_EQ(vornd::apply_store_text(fresh, vornd::store_text(t()), "s"), "");
  EXPECT_EQ(*vornd::do_list(fresh, "/").reply, *vornd::do_list(t(), "/").reply);
  EXPECT_EQ(value(fresh, "/ports/x\\/y", "mtu"), "9000");
  EXPECT_EQ(value(fresh, "/sys", "note"), odd);
  EXPECT_NE(Tree::find_kid(*fresh.resolve("/ports"), odd), nullptr);
  EXPECT_NE(fresh.resolve("/state/tapping"), nullptr);  // effects redone
  EXPECT_EQ(fresh.resolve("/state/ports/a"), nullptr);
  // The vornd_store fuzz target checks that a refused store changes nothing.
  EXPECT_EQ(vornd::apply_store_text(fresh, "{\n\"version\": 1,\n\"root\": }",
                                    "s.json")
                .substr(0, 9),
            "s.json:3:");
  EXPECT_EQ(vornd::apply_store_text(fresh, R"({"version": 1, "root": {"kids":
      [{"name": "sys", "kids": [{"name": "level", "value": "77"}]}]}})",
                                    "s.json"),
            "s.json: /sys/level: value '77' fails its checks");
}

TEST_F(Vornd, SaveReplacesTheFileAndReportsFailure) {
  char dir[] = "/tmp/vornd-unit-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string path = std::string(dir) + "/store.json";
  ASSERT_EQ(vornd::save_store(t(), path), "");
  ASSERT_EQ(set("/sys", "level", "1"), "OK");
  ASSERT_EQ(vornd::save_store(t(), path), "");  // over the first one
  EXPECT_NE(vornd::save_store(t(), std::string(dir) + "/no/dir/s.json"), "");
  // A write that fails half-way (a full disk) keeps the old file whole and
  // leaves no temporary file behind.
  std::string before = vornd::store_text(t());
  ASSERT_EQ(set("/sys", "level", "2"), "OK");
  rlimit saved{}, small{};
  getrlimit(RLIMIT_FSIZE, &saved);
  small = {16, saved.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::string err = vornd::save_store(t(), path);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_NE(err, "");
  Tree again(*model);
  ASSERT_EQ(vornd::load_store(again, path), "");
  EXPECT_EQ(vornd::store_text(again), before);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  std::filesystem::remove_all(dir);
}

TEST(VorndFiles, PasswordsPeerCredentialsAndOptions) {
  char dir[] = "/tmp/vornd-unit-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  std::string path = std::string(dir) + "/users";
  crypt_data data{};
  std::string hash = crypt_r("s3cret", "$6$abcdefgh$", &data);
  std::ofstream(path) << "# accounts\nalice:" << hash << ":19000:0:::\n";
  std::string error;
  auto users = vornd::load_users(path, error);
  ASSERT_TRUE(users) << error;
  // Right and wrong passwords and peer credentials show in the e2e tests.
  vornd::Peer tcp;
  EXPECT_TRUE(vornd::authenticate(tcp, "alice", "s3cret", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "bob", "s3cret", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "alice", "s3cret", nullptr));
  std::ofstream(path) << "nocolon\n";
  EXPECT_FALSE(vornd::load_users(path, error));
  EXPECT_EQ(error, path + ":1: expected user:hash");
  EXPECT_FALSE(vornd::same_secret("abc", "abd"));
  EXPECT_FALSE(vornd::same_secret("abc", std::string("abc\0", 4)));
  std::filesystem::remove_all(dir);
  auto parse = [&](std::vector<const char *> args) {
    args.insert(args.begin(), "vornd");
    return vornd::parse_options(static_cast<int>(args.size()),
                                const_cast<char **>(args.data()), error);
  };
  // Accepted options show in the e2e tests, which start vornd with them.
  EXPECT_EQ(parse({})->socket, "/dev/vornd");
  EXPECT_FALSE(parse({"--synthetic", "12k"}));
  EXPECT_FALSE(parse({"--store"}));
  EXPECT_FALSE(parse({"--bogus"}));
  EXPECT_FALSE(parse({"--model", "m", "--synthetic", "5"}));
  EXPECT_FALSE(parse({"--max-connections", "0"}));
  EXPECT_FALSE(parse({"--login-timeout", "-1"}));
  EXPECT_EQ(parse({"--login-timeout", "7"})->limits.login_timeout_s, 7);
}

}  // namespace
