// The daemon's core where no script reaches cheaply: long lists, refusals
// of texts a shell never sends, reveals, the model, store and users files,
// a store write that fails half-way, and the command line. The structure
// and values transcripts show its answers to paths and operations.
#include <crypt.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "vornd/auth.h"
#include "vornd/brake.h"
#include "vornd/handlers.h"
#include "vornd/options.h"
#include "vornd/store.h"

namespace {

using vornd::Tree;
const std::string kInsane = "ERR sanity check failed";

// A creatable list that a status list mirrors, whose entries reveal a
// node, and a few typed values.
const char *kModel = R"({"nodes": [{"name": "sys", "children": [
 {"name": "level", "type": "integer", "min": 1, "max": 5, "default": 3},
 {"name": "note", "type": "string"}, {"name": "word", "pattern": "[a-z]*",
 "type": "string"}]}, {"name": "ports", "ops": "adhl", "mirror": "/state/ports",
 "entry": {"ops": "hlr", "children": [{"name": "mtu", "type": "integer",
 "min": 68, "max": 9000}, {"name": "tap", "type": "boolean", "reveal": {"when":
 "true", "at": "/state", "node": {"name": "tapping", "ops": "hg"}}}]},
 "entries": [{"name": "a", "values": {"mtu": 1400}}, "b"]}, {"name": "state",
 "children": [{"name": "ports", "entry": {"children": [{"name": "link"}]}}]}]})";

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
  std::unique_ptr<vornd::Model> model;
  std::unique_ptr<vornd::Core> core;
};

TEST_F(Vornd, RefusalsTextsAndRevealsNoScriptReaches) {
  struct {
    const char *path, *param;
    std::string value, status;
  } sets[] = {{"/sys", "note", "bad\xc3", kInsane},       // broken UTF-8
              {"/sys", "note", "\xed\xa0\x80", kInsane},  // a surrogate
              // Patterns are not tried on values that would overflow the stack.
              {"/sys", "word", std::string(1024, 'a'), "OK"},
              {"/sys", "word", std::string(1 << 20, 'a'), kInsane}};
  for (const auto &row : sets)
    EXPECT_EQ(set(row.path, row.param, row.value), row.status);
  EXPECT_EQ(vornd::do_create(t(), "/ports", "x\xff"),
            "ERR result=22 Invalid argument");
  vornd::Session s = core->open_session("u");
  for (auto [type, status] :
       {std::pair{51, "ERR No batch open"}, {77, "ERR Unknown request"}})
    EXPECT_EQ(core->handle(s, wire::Request{1, uint16_t(type), {}}).status,
              status);
  EXPECT_EQ(value(t(), "/sys/level", ""), "3");  // no parameter: the node's own
  EXPECT_EQ(value(t(), "/sys", ""), "ERR No such file or directory");
  EXPECT_FALSE(vornd::do_list(t(), "/ports/a/mtu").reply);
  // Two entries reveal one node: it stays while either holds "true"; a
  // staged set reveals nothing until its batch closes.
  std::pair<const char *, wire::Text> steps[] = {
      {"a", "true"}, {"b", "true"}, {"a", "false"}, {"b", std::nullopt}};
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(set(("/ports/" + std::string(steps[i].first)).c_str(), "tap",
                  steps[i].second),
              "OK");
    EXPECT_EQ(t().resolve("/state/tapping") != nullptr, i < 3) << i;
  }
  EXPECT_EQ(vornd::do_set(t(), "/ports/b", "tap", "on", false), "OK");
  EXPECT_FALSE(t().resolve("/state/tapping"));
}

TEST_F(Vornd, ModelAndStoreErrorsNameFileAndLine) {
  std::pair<const char *, const char *> models[] = {
      {"{\"nodes\": [\n\n\n{\"name\": \"a\",}]}", "m.json:4:"},
      {R"({"nodes": [{"name": "a", "type": "float"}]})",
       "m.json: /a: unknown type 'float'"},
      {R"({"nodes": [{"name": "p", "type": "integer", "min": 5, "default": 1}]})",
       "m.json: /p: default '1': out of range"},
      {"[]", "m.json: /: the model needs a \"nodes\" array"}};
  std::string error;
  for (auto [text, want] : models) {
    EXPECT_FALSE(vornd::load_model(text, "m.json", error));
    EXPECT_EQ(error.substr(0, strlen(want)), want) << text;
  }
  // The vornd_store fuzz target checks that a refused store changes nothing.
  EXPECT_EQ(vornd::apply_store_text(t(), "{\n\"version\": 1,\n\"root\": }", "s")
                .substr(0, 4),
            "s:3:");
  EXPECT_EQ(
      vornd::apply_store_text(t(), R"({"version": 1, "root": {"kids": [{"name":
      "sys", "kids": [{"name": "level", "value": "77"}]}]}})",
                              "s"),
      "s: /sys/level: value '77' fails its checks");
}

TEST_F(Vornd, StoreRoundTripsAndAFailedWriteKeepsTheOldFile) {
  const std::string odd = "q\"b\\s\tcaf\xc3\xa9\x01";
  ASSERT_EQ(vornd::do_create(t(), "/ports", "x/y"), "OK");
  ASSERT_EQ(vornd::do_create(t(), "/ports", "q\\\"b\\\\s\tcaf\xc3\xa9\x01"),
            "OK");
  ASSERT_EQ(vornd::do_delete(t(), "/ports", "a"), "OK");
  ASSERT_EQ(set("/ports/\"x/y\"", "mtu", "9000"), "OK");
  ASSERT_EQ(set("/ports/b", "tap", "true"), "OK");
  ASSERT_EQ(set("/sys", "note", odd), "OK");
  char dir[] = "/tmp/vornd-unit-XXXXXX";
  std::string path = std::string(mkdtemp(dir)) + "/store.json";
  ASSERT_EQ(vornd::save_store(t(), path), "");
  ASSERT_EQ(vornd::save_store(t(), path), "");  // over the first one
  Tree fresh(*model);
  ASSERT_EQ(vornd::load_store(fresh, path), "");
  EXPECT_EQ(*vornd::do_list(fresh, "/").reply, *vornd::do_list(t(), "/").reply);
  EXPECT_EQ(value(fresh, "/ports/x\\/y", "mtu"), "9000");
  EXPECT_EQ(value(fresh, "/sys", "note"), odd);
  EXPECT_TRUE(Tree::find_kid(*fresh.resolve("/ports"), odd));
  EXPECT_TRUE(fresh.resolve("/state/tapping"));  // effects redone
  EXPECT_FALSE(fresh.resolve("/state/ports/a"));
  EXPECT_NE(vornd::save_store(t(), std::string(dir) + "/no/dir/s.json"), "");
  // A write that fails half-way (a full disk) keeps the old file whole and
  // leaves no temporary file behind.
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
  EXPECT_EQ(vornd::store_text(again), vornd::store_text(fresh));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  std::filesystem::remove_all(dir);
}

// Right and wrong passwords and peer credentials show in the e2e tests,
// accepted options where they start vornd.
TEST(VorndFiles, UsersAndOptions) {
  char dir[] = "/tmp/vornd-unit-XXXXXX";
  std::string path = std::string(mkdtemp(dir)) + "/users", error;
  crypt_data data{};
  std::string hash = crypt_r("s3cret", "$6$abcdefgh$", &data);
  std::ofstream(path) << "# accounts\nalice:" << hash << ":19000:0:::\n";
  auto users = vornd::load_users(path, error);
  ASSERT_TRUE(users) << error;
  vornd::Peer tcp;
  EXPECT_TRUE(vornd::authenticate(tcp, "alice", "s3cret", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "bob", "s3cret", &*users));
  EXPECT_FALSE(vornd::authenticate(tcp, "alice", "s3cret", nullptr));
  std::ofstream(path) << "nocolon\n";
  EXPECT_FALSE(vornd::load_users(path, error));
  EXPECT_EQ(error, path + ":1: expected user:hash");
  using ms = std::chrono::milliseconds;
  for (auto [failures, delay] :
       {std::pair{0, 0}, {1, 250}, {3, 1000}, {9, 8000}})
    EXPECT_EQ(vornd::login_delay(failures), ms(delay)) << failures;
  EXPECT_FALSE(vornd::same_secret("abc", "abd"));
  EXPECT_FALSE(vornd::same_secret("abc", std::string("abc\0", 4)));
  std::filesystem::remove_all(dir);
  std::vector<std::vector<const char *>> bad = {
      {"--synthetic", "12k"},
      {"--store"},
      {"--bogus"},
      {"--model", "m", "--synthetic", "5"},
      {"--max-connections", "0"},
      {"--login-timeout", "-1"}};
  auto parse = [&](std::vector<const char *> args) {
    args.insert(args.begin(), "vornd");
    return vornd::parse_options(int(args.size()),
                                const_cast<char **>(args.data()), error);
  };
  for (const auto &args : bad) EXPECT_FALSE(parse(args)) << args[0];
  EXPECT_EQ(parse({})->socket, "/dev/vornd");
  EXPECT_EQ(parse({"--login-timeout", "7"})->limits.login_timeout_s, 7);
}

}  // namespace
