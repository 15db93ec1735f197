// Side-effect refresh and the single value read it is built on.
#include <stdlib.h>

#include <string>
#include <vector>

#include "commands/get_value.h"
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
  const char *names[] = {"mtu", "speed"};
  EXPECT_EQ(printed([&] { check_side_effects_at("/net/eth0", names, 2, 1); }),
            "");
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
  const char *names[] = {"mtu"};
  EXPECT_EQ(printed([&] { check_side_effects_at("/net/eth0", names, 1, 1); }),
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
  const char *names[] = {"mtu"};
  check_side_effects_at("/net/routes", names, 1, 1);
  EXPECT_TRUE(fake_vornal::requests().empty());
  // The daemon has no such value, or no handle comes back.
  value(entry, "mtu", status_only("ERR No such file or directory"));
  value(entry, "speed", no_handle());
  const char *both[] = {"mtu", "speed"};
  EXPECT_EQ(printed([&] { check_side_effects_at("/net/eth0", both, 2, 1); }),
            "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, "mtu"), req(15, entry, "speed")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "old");
}

TEST_F(SideEffectTest, NodeChangesLookAtTheParentsEntry) {
  // A create, delete or rename of /net/eth0/vlan reads the entry of
  // /net/eth0 itself, with an empty parameter name.
  value(entry, "", answer(".net.routes"));
  fake_vornal::on(VORNAL_MSG_LIST, "/net/routes", status_only("OK"));
  check_side_effects_at("/net/eth0/vlan", nullptr, 0, 0);
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, ""), req(17, "/net/routes")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "");
}

}  // namespace
