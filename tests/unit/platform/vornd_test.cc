// The daemon's store: odd texts, entries and effects read back, a refused
// store names its line, a write that fails half-way keeps the old file. The
// transcripts show the daemon's answers to paths and operations.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "support/e2e.h"
#include "vornd/brake.h"
#include "vornd/handlers.h"
#include "vornd/store.h"

// 32-bit builds too: a stat of a file with a 64-bit inode, or a clock past
// 2038, must not fail or wrap.
static_assert(sizeof(off_t) == 8 && sizeof(time_t) == 8);

namespace {

using vornd::Tree;

// A creatable list that a status list mirrors, whose entries reveal a node.
const char *kModel = R"({"nodes": [{"name": "sys", "children": [
 {"name": "level", "type": "integer", "min": 1, "max": 5, "default": 3},
 {"name": "note", "type": "string"}]}, {"name": "ports", "ops": "adhl",
 "mirror": "/state/ports", "entry": {"ops": "hlr", "children": [{"name": "mtu",
 "type": "integer", "min": 68, "max": 9000}, {"name": "tap", "type": "boolean",
 "reveal": {"when": "true", "at": "/state", "node": {"name": "tapping"}}}]},
 "entries": [{"name": "a", "values": {"mtu": 1400}}, "b"]}, {"name": "state",
 "children": [{"name": "ports", "entry": {"children": [{"name": "link"}]}}]}]})";

TEST(Vornd, StoreRoundTripsAndAFailedWriteKeepsTheOldFile) {
  std::string error, odd = "q\"b\\s\tcaf\xc3\xa9\x01";
  std::unique_ptr<vornd::Model> model = *vornd::load_model(kModel, "m", error);
  vornd::Core core(*model, "");
  Tree &t = core.running();
  Tree fresh(*model), again(*model);
  for (const char *name : {"x/y", "q\\\"b\\\\s\tcaf\xc3\xa9\x01"})
    ASSERT_EQ(vornd::do_create(t, "/ports", name), "OK");
  ASSERT_EQ(vornd::do_delete(t, "/ports", "a"), "OK");
  ASSERT_EQ(vornd::do_set(t, "/ports/\"x/y\"", "mtu", "9000", true), "OK");
  ASSERT_EQ(vornd::do_set(t, "/ports/b", "tap", "true", true), "OK");
  ASSERT_EQ(vornd::do_set(t, "/sys", "note", odd, true), "OK");
  e2e::TempDir dir;
  std::string path = dir.path + "/store.json";
  ASSERT_EQ(vornd::save_store(t, path), "");
  ASSERT_EQ(vornd::load_store(fresh, path), "");
  EXPECT_EQ(*vornd::do_list(fresh, "/").reply, *vornd::do_list(t, "/").reply);
  EXPECT_EQ(vornd::do_get(fresh, "/ports/x\\/y", "mtu").reply, "9000");
  EXPECT_EQ(vornd::do_get(fresh, "/sys", "note").reply, odd);
  EXPECT_TRUE(Tree::find_kid(*fresh.resolve("/ports"), odd));
  EXPECT_TRUE(fresh.resolve("/state/tapping"));  // effects redone
  EXPECT_FALSE(fresh.resolve("/state/ports/a"));
  EXPECT_NE(vornd::save_store(t, dir.path + "/no/dir/s.json"), "");
  // A write that fails half-way (a full disk) keeps the old file whole and
  // leaves no temporary file behind.
  ASSERT_EQ(vornd::do_set(t, "/sys", "level", "2", true), "OK");
  rlimit saved{}, small{};
  getrlimit(RLIMIT_FSIZE, &saved);
  small = {16, saved.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  error = vornd::save_store(t, path);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_NE(error, "");
  ASSERT_EQ(vornd::load_store(again, path), "");
  EXPECT_EQ(vornd::store_text(again), vornd::store_text(fresh));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  // A refused store names its place; the vornd_store fuzz target checks
  // that it changes nothing.
  const char *bad = R"({"version": 1, "root": {"kids": [{"name": "sys",
      "kids": [{"name": "level", "value": "77"}]}]}})";
  EXPECT_EQ(vornd::apply_store_text(t, bad, "s"),
            "s: /sys/level: value '77' fails its checks");
}

// A failed login delays the next one from that peer, doubling up to 8 s.
TEST(Vornd, LoginDelayGrows) {
  for (auto [failures, ms] : {std::pair{0, 0}, {1, 250}, {3, 1000}, {9, 8000}})
    EXPECT_EQ(vornd::login_delay(failures), std::chrono::milliseconds(ms));
}

}  // namespace
