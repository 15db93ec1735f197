// Side-effect refresh and the single value read it is built on.
#include <stdlib.h>

#include <string>
#include <vector>

#include "commands/get_value.h"
#include "lang/parser.h"
#include "tree/side_effect.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;
using strings = std::vector<std::string>;

const char entry[] = "/param/side-effect/net/eth0";

class SideEffectTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    add({"param", "side-effect", "net", "eth0"});
    add({"net", "eth0", "mtu"});
    add({"net", "routes", "old"});
    fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops g"));
  }
  void value(const char *path, const char *name, fake_vornal::reply r) {
    fake_vornal::on(VORNAL_MSG_GET, path, name, r);
  }
};

// Returns a parsed command for path with one value pair per name; the
// caller releases it with talloc_free.
parsed_command *command(const char *path,
                        std::initializer_list<const char *> names) {
  parsed_command *pc = talloc_zero(nullptr, struct parsed_command);
  pc->command = -1;
  pc->path = talloc_strdup(pc, path);
  parsed_command_value_pair **tail = &pc->values;
  for (const char *name : names) {
    *tail = talloc_zero(pc, struct parsed_command_value_pair);
    (*tail)->name = talloc_strdup(pc, name);
    tail = &(*tail)->next;
  }
  return pc;
}

// Runs check_side_effects on a command for path with the given pair names
// and returns what it printed.
std::string check(const char *path, std::initializer_list<const char *> names,
                  int per_value) {
  parsed_command *pc = command(path, names);
  std::string out = printed([&] { check_side_effects(pc, per_value); });
  talloc_free(pc);
  return out;
}

// Returns a request text for type with path and name in their places.
std::string req(int type, const char *path, const char *name = nullptr) {
  std::string n = name ? "\"" + std::string(name) + "\"" : "NULL";
  return std::to_string(type) + "(NULL,\"" + path + "\",NULL," + n + ",NULL)";
}

TEST(GetValueTest, ReplyElseStatusElseNull) {
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_GET, "/s", "host", answer("box", "OK"));
  fake_vornal::on(VORNAL_MSG_GET, "/s", "nope",
                  status_only("ERR No such file or directory"));
  fake_vornal::on(VORNAL_MSG_GET, "/s", "dead", no_handle());
  char *v = get_value("/s", "host");
  EXPECT_STREQ(v, "box");
  free(v);
  v = get_value("/s", "nope");
  EXPECT_STREQ(v, "ERR No such file or directory");
  free(v);
  EXPECT_EQ(get_value("/s", "dead"), nullptr);
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, "/s", "host"), req(15, "/s", "nope"),
                     req(15, "/s", "dead")}));
  EXPECT_EQ(fake_vornal::live_handles(), 0);
}

TEST_F(SideEffectTest, OneValueRequestPerPairInOrder) {
  value(entry, "mtu", answer(".net.routes"));
  value(entry, "speed", answer(".net.eth0"));
  fake_vornal::on(VORNAL_MSG_LIST, "/net/routes", answer("r1\nr2"));
  fake_vornal::on(VORNAL_MSG_LIST, "/net/eth0", answer("mtu\nspeed"));
  EXPECT_EQ(check("/net/eth0", {"mtu", "speed"}, 1), "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, "mtu"), req(17, "/net/routes"),
                     req(18, "/net/routes/r1"), req(18, "/net/routes/r2"),
                     req(15, entry, "speed"), req(17, "/net/eth0"),
                     req(18, "/net/eth0/mtu"), req(18, "/net/eth0/speed")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "r1,r2");
  EXPECT_EQ(child_names(add({"net", "eth0"})), "mtu,speed");
}

TEST_F(SideEffectTest, ValueNamingNoLocalNodeSaysHmm) {
  value(entry, "mtu", answer(".net.gone"));
  EXPECT_EQ(check("/net/eth0", {"mtu"}, 1),
            "Hmm. Side effect path .net.gone doesn't seem to exist.\n");
  EXPECT_EQ(fake_vornal::request_texts(), (strings{req(15, entry, "mtu")}));
}

TEST_F(SideEffectTest, RelativeValueResolvesFromTheCurrentNode) {
  cli_state.cwd = add({"net"});
  value(entry, "mtu", answer("routes"));
  fake_vornal::on(VORNAL_MSG_LIST, "/net/routes", answer("fresh"));
  refresh_side_effect(entry, "mtu");
  EXPECT_EQ(child_names(add({"net", "routes"})), "fresh");
}

TEST_F(SideEffectTest, SilentSkips) {
  // No local entry: the daemon is not even asked.
  EXPECT_EQ(check("/net/routes", {"mtu"}, 1), "");
  EXPECT_TRUE(fake_vornal::requests().empty());
  // The daemon has no such value, or no handle comes back.
  value(entry, "mtu", status_only("ERR No such file or directory"));
  value(entry, "speed", no_handle());
  EXPECT_EQ(check("/net/eth0", {"mtu", "speed"}, 1), "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, "mtu"), req(15, entry, "speed")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "old");
}

TEST_F(SideEffectTest, NodeChangesLookAtTheParentsEntry) {
  // A create, delete or rename of /net/eth0/vlan reads the entry of
  // /net/eth0 itself, with an empty parameter name.
  value(entry, "", answer(".net.routes"));
  fake_vornal::on(VORNAL_MSG_LIST, "/net/routes", status_only("OK"));
  EXPECT_EQ(check("/net/eth0/vlan", {"ignored"}, 0), "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, ""), req(17, "/net/routes")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "");
}

}  // namespace
