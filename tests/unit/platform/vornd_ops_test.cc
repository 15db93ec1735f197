// Statuses of the tree operations, value checks, batches and side effects.
#include <gtest/gtest.h>

#include "vornd/effects.h"
#include "vornd/handlers.h"
#include "vornd_test_model.h"

namespace {

using vornd::Tree;

class VorndOps : public ::testing::Test {
 protected:
  void SetUp() override {
    model = vornd_test::test_model();
    ASSERT_TRUE(model);
    core = std::make_unique<vornd::Core>(*model, "");
  }
  std::string set(Tree &t, const char *path, const char *p, wire::Text v) {
    return vornd::do_set(t, path, p, v, true);
  }
  std::string value(const Tree &t, const char *path, const char *p) {
    vornd::Answer a = vornd::do_get(t, path, p);
    return a.reply ? *a.reply : a.status;
  }
  wire::Request req(uint16_t type, wire::Text a2 = {}, wire::Text a4 = {},
                    wire::Text a5 = {}) {
    wire::Request q;
    q.type = type;
    q.args = {std::nullopt, a2, std::nullopt, a4, a5};
    return q;
  }
  std::unique_ptr<vornd::Model> model;
  std::unique_ptr<vornd::Core> core;
};

TEST_F(VorndOps, SetChecksTypesRangesPatternsAndChoices) {
  Tree &t = core->running();
  const std::string insane = "ERR sanity check failed";
  EXPECT_EQ(set(t, "/sys", "level", "6"), insane);
  EXPECT_EQ(set(t, "/sys", "level", "0"), insane);
  EXPECT_EQ(set(t, "/sys", "level", "2x"), insane);
  EXPECT_EQ(set(t, "/sys", "level", "5"), "OK");
  EXPECT_EQ(set(t, "/sys", "name", "Box"), insane);        // pattern
  EXPECT_EQ(set(t, "/sys", "name", "abcdefghi"), insane);  // too long
  EXPECT_EQ(set(t, "/sys", "name", ""), insane);           // too short
  EXPECT_EQ(set(t, "/sys", "zone", "UTC"), insane);
  EXPECT_EQ(set(t, "/sys", "zone", "cet"), "OK");
  EXPECT_EQ(set(t, "/sys", "on", "maybe"), insane);
  EXPECT_EQ(set(t, "/sys", "on", "yes"), "OK");
  EXPECT_EQ(value(t, "/sys", "on"), "true");
  EXPECT_EQ(set(t, "/sys", "uplink", "zz"), insane);  // not a port
  EXPECT_EQ(set(t, "/sys", "uplink", "B"), "OK");
  EXPECT_EQ(value(t, "/sys", "level"), "5");
}

TEST_F(VorndOps, SetAndGetStatuses) {
  Tree &t = core->running();
  EXPECT_EQ(set(t, "/sys", "nope", "1"), "ERR No such file or directory");
  EXPECT_EQ(set(t, "/nope", "level", "1"), "ERR No such file or directory");
  EXPECT_EQ(set(t, "/sys", "serial", "S2"), "ERR Permission denied");
  EXPECT_EQ(set(t, "/sys", "level", "4"), "OK");
  EXPECT_EQ(set(t, "/sys", "level", std::nullopt), "OK");  // back to default
  EXPECT_EQ(value(t, "/sys", "level"), "3");
  EXPECT_EQ(value(t, "/sys/level", ""), "3");  // the node's own value
  EXPECT_EQ(value(t, "/sys", ""), "ERR No such file or directory");
  vornd::Answer miss = vornd::do_get(t, "/sys", "nope");
  EXPECT_FALSE(miss.reply);
  EXPECT_EQ(miss.status, "ERR No such file or directory");
}

TEST_F(VorndOps, CreateDeleteRenameStatuses) {
  Tree &t = core->running();
  EXPECT_EQ(vornd::do_create(t, "/nope", "x"),
            "ERR result=5 No such file or directory");
  EXPECT_EQ(vornd::do_create(t, "/sys", "x").substr(0, 12), "ERR result=5");
  EXPECT_EQ(vornd::do_create(t, "/ports", "A"), "ERR result=6 File exists");
  EXPECT_EQ(vornd::do_create(t, "/ports", "\"new one\""), "OK");
  EXPECT_EQ(value(t, "/ports/\"new one\"", "mtu"), "1500");
  EXPECT_EQ(vornd::do_delete(t, "/ports", "zz"), "ERR result=5 Success");
  EXPECT_EQ(vornd::do_delete(t, "/sys", "level"),
            "ERR result=1 Operation not permitted");
  EXPECT_EQ(vornd::do_rename(t, "/ports", "b", "a"),
            "ERR result=6 File exists");
  EXPECT_EQ(vornd::do_rename(t, "/ports", "b", "c"), "OK");
  EXPECT_EQ(vornd::do_rename(t, "/sys", "level", "lvl"),
            "ERR result=1 Operation not permitted");
  EXPECT_EQ(vornd::do_delete(t, "/ports", "new\\ one"), "OK");
  EXPECT_EQ(t.resolve("/ports/new one"), nullptr);
}

TEST_F(VorndOps, ListingDescriptionAndHelpFormats) {
  Tree &t = core->running();
  ASSERT_EQ(vornd::do_create(t, "/ports", "x\\/y z"), "OK");
  vornd::Answer l = vornd::do_list(t, "/ports");
  EXPECT_EQ(
      *l.reply,
      "a\na/mtu\na/tap\nb\nb/mtu\nb/tap\nx%2Fy+z\nx%2Fy+z/mtu\nx%2Fy+z/tap");
  vornd::Answer leaf = vornd::do_list(t, "/ports/a/mtu");
  EXPECT_FALSE(leaf.reply);
  EXPECT_EQ(leaf.status, "OK");
  EXPECT_EQ(vornd::do_list(t, "/none").status, "ERR No such file or directory");
  EXPECT_EQ(*vornd::do_describe(t, "/ports").reply, "ops adhl");
  EXPECT_EQ(*vornd::do_describe(t, "/sys/zone").reply,
            "ops hgs\nchoices utc\nchoices cet");
  EXPECT_EQ(*vornd::do_describe(t, "/sys/uplink").reply,
            "ops hgsm\nmatches /ports");
  EXPECT_EQ(*vornd::do_describe(t, "/param").reply, "ops hl\nflags.1 hide");
  EXPECT_EQ(*vornd::do_help(t, "/sys/").reply, "System.");
  EXPECT_EQ(*vornd::do_help(t, "/sys/name").reply, "Host+name.");
  vornd::Answer none = vornd::do_help(t, "/sys/zzz");
  EXPECT_FALSE(none.reply);
  EXPECT_EQ(none.status, "ERR No such file or directory");
}

TEST_F(VorndOps, BatchAppliesAllOrNothing) {
  vornd::Session s = core->open_session("u");
  EXPECT_EQ(core->handle(s, req(50)).status, "OK");
  EXPECT_EQ(core->handle(s, req(11, "/sys", "level", "4")).status, "OK");
  EXPECT_EQ(value(s.candidate, "/sys", "level"), "3");  // staged only
  EXPECT_EQ(core->handle(s, req(11, "/sys", "level", "9")).status,
            "ERR sanity check failed");
  EXPECT_EQ(core->handle(s, req(51)).status, "ERR batch rejected");
  EXPECT_EQ(value(s.candidate, "/sys", "level"), "3");

  core->handle(s, req(50));
  core->handle(s, req(11, "/sys", "level", "4"));
  core->handle(s, req(11, "/sys", "zone", "cet"));
  EXPECT_EQ(core->handle(s, req(51)).status, "OK");
  EXPECT_EQ(value(s.candidate, "/sys", "level"), "4");
  EXPECT_EQ(value(s.candidate, "/sys", "zone"), "cet");
  EXPECT_EQ(core->handle(s, req(51)).status.substr(0, 3), "ERR");
}

TEST_F(VorndOps, CandidateCommitAndRevert) {
  vornd::Session s = core->open_session("u");
  core->handle(s, req(11, "/sys", "level", "2"));
  EXPECT_EQ(value(core->running(), "/sys", "level"), "3");
  EXPECT_EQ(core->handle(s, req(13)).status, "OK");
  EXPECT_EQ(value(core->running(), "/sys", "level"), "2");
  core->handle(s, req(11, "/sys", "level", "5"));
  EXPECT_EQ(core->handle(s, req(22)).status, "OK");
  EXPECT_EQ(value(s.candidate, "/sys", "level"), "2");
  EXPECT_EQ(core->handle(s, req(77)).status, "ERR Unknown request");
}

TEST_F(VorndOps, MirrorAndSideEffectEntriesFollowTheList) {
  Tree &t = core->running();
  EXPECT_EQ(value(t, "/param/side-effect/ports", ""), ".state.ports");
  EXPECT_EQ(value(t, "/param/side-effect/ports/a", "tap"), ".state");
  ASSERT_EQ(vornd::do_create(t, "/ports", "c"), "OK");
  EXPECT_NE(t.resolve("/state/ports/c/link"), nullptr);
  EXPECT_EQ(value(t, "/param/side-effect/ports/c", "tap"), ".state");
  ASSERT_EQ(vornd::do_rename(t, "/ports", "c", "d"), "OK");
  EXPECT_EQ(t.resolve("/state/ports/c"), nullptr);
  EXPECT_NE(t.resolve("/state/ports/d"), nullptr);
  EXPECT_EQ(t.resolve("/param/side-effect/ports/c"), nullptr);
  EXPECT_EQ(value(t, "/param/side-effect/ports/d", "tap"), ".state");
  ASSERT_EQ(vornd::do_delete(t, "/ports", "a"), "OK");
  EXPECT_EQ(t.resolve("/state/ports/a"), nullptr);
  EXPECT_EQ(t.resolve("/param/side-effect/ports/a"), nullptr);
  EXPECT_EQ(*vornd::do_list(t, "/state/ports").reply, "b\nb/link\nd\nd/link");
}

TEST_F(VorndOps, RevealAddsAndRemovesNodes) {
  Tree &t = core->running();
  EXPECT_EQ(t.resolve("/state/tapping"), nullptr);
  ASSERT_EQ(set(t, "/ports/b", "tap", "true"), "OK");
  ASSERT_NE(t.resolve("/state/tapping"), nullptr);
  EXPECT_EQ(*vornd::do_describe(t, "/state/tapping").reply, "ops hg");
  ASSERT_EQ(set(t, "/ports/b", "tap", "false"), "OK");
  EXPECT_EQ(t.resolve("/state/tapping"), nullptr);
  // Two entries reveal the same node: it stays while either holds "true".
  ASSERT_EQ(set(t, "/ports/a", "tap", "true"), "OK");
  ASSERT_EQ(set(t, "/ports/b", "tap", "true"), "OK");
  ASSERT_EQ(set(t, "/ports/a", "tap", "false"), "OK");
  EXPECT_NE(t.resolve("/state/tapping"), nullptr);
  ASSERT_EQ(set(t, "/ports/b", "tap", std::nullopt), "OK");
  EXPECT_EQ(t.resolve("/state/tapping"), nullptr);
  // A staged set reveals nothing until its batch closes.
  EXPECT_EQ(vornd::do_set(t, "/ports/b", "tap", "on", false), "OK");
  EXPECT_EQ(t.resolve("/state/tapping"), nullptr);
}

}  // namespace
