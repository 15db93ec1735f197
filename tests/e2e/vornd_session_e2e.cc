// vornd over its socket: the statuses clients tell apart, sessions, and the
// listing and description formats, all against the real binary.
#include <gtest/gtest.h>

#include <sstream>

#include "support/daemon.h"
#include "support/raw_client.h"

namespace {

const std::string kNoEnt = "ERR No such file or directory";

TEST(VorndStatus, EveryRowOfTheStatusTable) {
  e2e::Daemon d;
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  // create
  EXPECT_EQ(c.status(10, {}, "/nowhere", "x").substr(0, 12), "ERR result=5");
  EXPECT_EQ(c.status(10, {}, "/system", "x").substr(0, 12), "ERR result=5");
  EXPECT_EQ(c.status(10, {}, "/network/interfaces", "ETH0"),
            "ERR result=6 File exists");
  EXPECT_EQ(c.status(10, {}, "/network/interfaces", "eth2"), "OK");
  // set
  EXPECT_EQ(c.status(11, {}, "/system", {}, "nope", "1"), kNoEnt);
  EXPECT_EQ(c.status(11, {}, "/nope", {}, "hostname", "a"), kNoEnt);
  EXPECT_EQ(c.status(11, {}, "/network/interfaces/eth2", {}, "mtu", "10"),
            "ERR sanity check failed");
  EXPECT_EQ(c.status(11, {}, "/system", {}, "timezone", "Mars/Base"),
            "ERR sanity check failed");
  EXPECT_EQ(c.status(11, {}, "/system", {}, "hostname", "-bad"),
            "ERR sanity check failed");
  EXPECT_EQ(c.status(11, {}, "/status", {}, "firmware", "9"),
            "ERR Permission denied");
  EXPECT_EQ(c.status(11, {}, "/network/interfaces/eth2", {}, "mtu", "9000"),
            "OK");
  // delete
  EXPECT_EQ(c.status(12, {}, "/network/interfaces", "eth9"),
            "ERR result=5 Success");
  EXPECT_EQ(c.status(12, {}, "/system", "hostname"),
            "ERR result=1 Operation not permitted");
  EXPECT_EQ(c.status(12, {}, "/network/interfaces", "eth2"), "OK");
  // get
  wire::Reply miss = c.call(15, {}, "/system", {}, "nope");
  EXPECT_FALSE(miss.reply);
  EXPECT_EQ(miss.status, kNoEnt);
  wire::Reply host = c.call(15, {}, "/system", {}, "hostname");
  EXPECT_EQ(host.reply, "velmar");
  EXPECT_EQ(host.status, "OK");
  // batch
  EXPECT_EQ(c.status(50, "", "", "", "", ""), "OK");
  EXPECT_EQ(c.status(11, {}, "/system", {}, "hostname", "gw"), "OK");
  EXPECT_EQ(c.status(11, {}, "/services/ssh", {}, "port", "0"),
            "ERR sanity check failed");
  EXPECT_EQ(c.status(51, "", "", "", "", ""), "ERR batch rejected");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  EXPECT_EQ(c.status(99), "ERR Unknown request");
}

TEST(VorndStatus, LoginRulesAndSessionEnd) {
  e2e::Daemon d;
  e2e::RawClient a(d.socket()), b(d.socket());
  EXPECT_EQ(a.status(0), "OK");  // the no-op needs no login
  EXPECT_EQ(a.status(17, {}, "/"), "ERR Not logged in");
  EXPECT_EQ(a.status(13), "ERR Not logged in");
  ASSERT_EQ(a.login("admin"), "OK");
  EXPECT_EQ(a.status(11, {}, "/system", {}, "hostname", "changed"), "OK");
  EXPECT_EQ(b.login("operator"), "INUSE");
  ASSERT_EQ(b.login("operator", true), "OK");
  std::optional<wire::Frame> n = a.next_frame();
  ASSERT_TRUE(n);
  EXPECT_EQ(n->kind, wire::Kind::notice);
  EXPECT_EQ(n->notice.code, wire::kNoticeSessionEnded);
  EXPECT_TRUE(a.closed_within(5000));
  // The forced-out session's change was never committed.
  EXPECT_EQ(b.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  EXPECT_EQ(b.status(11, {}, "/system", {}, "hostname", "other"), "OK");
  EXPECT_EQ(b.status(23, "", "", "", "", ""), "OK");
  EXPECT_EQ(b.status(15, {}, "/system", {}, "hostname"), "ERR Not logged in");
  ASSERT_EQ(b.login("x"), "OK");  // the logout freed the daemon
  EXPECT_EQ(b.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  EXPECT_NE(d.log().find("login of 'operator'"), std::string::npos);
}

TEST(VorndStatus, ClosedConnectionDropsChangesCommitKeepsThem) {
  e2e::Daemon d;
  {
    e2e::RawClient a(d.socket());
    ASSERT_EQ(a.login("root"), "OK");
    EXPECT_EQ(a.status(11, {}, "/services/ntp", {}, "poll-interval", "128"),
              "OK");
    EXPECT_EQ(a.status(11, {}, "/system", {}, "location", "rack 4"), "OK");
    EXPECT_EQ(a.status(13), "OK");
    EXPECT_EQ(a.status(11, {}, "/system", {}, "location", "lost"), "OK");
  }
  e2e::RawClient b(d.socket());
  ASSERT_EQ(b.login("root"), "OK");
  EXPECT_EQ(b.call(15, {}, "/services/ntp", {}, "poll-interval").reply, "128");
  EXPECT_EQ(b.call(15, {}, "/system", {}, "location").reply, "rack 4");
  EXPECT_EQ(b.status(11, {}, "/system", {}, "location", std::nullopt), "OK");
  EXPECT_EQ(b.call(15, {}, "/system", {}, "location").reply, "");
  EXPECT_EQ(b.status(22, "", "", "", "", ""), "OK");  // revert
  EXPECT_EQ(b.call(15, {}, "/system", {}, "location").reply, "rack 4");
}

TEST(VorndFormats, NamesWithSlashAndSpaceAndSideEffects) {
  e2e::Daemon d;
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  ASSERT_EQ(c.status(10, {}, "/network/interfaces", "\"wan a/b\""), "OK");
  wire::Reply l = c.call(17, {}, "/network/interfaces");
  ASSERT_TRUE(l.reply);
  EXPECT_NE(l.reply->find("\nwan+a%2Fb\nwan+a%2Fb/enabled\n"),
            std::string::npos);
  EXPECT_EQ(l.reply->find("\n\n"), std::string::npos);
  EXPECT_NE(l.reply->back(), '\n');
  EXPECT_EQ(
      c.status(11, {}, "/network/interfaces/wan\\ a\\/b", {}, "mtu", "1400"),
      "OK");
  EXPECT_EQ(c.call(15, {}, "/network/interfaces/\"WAN A/B\"", {}, "mtu").reply,
            "1400");
  // Creating an interface changed the status branch too, and said so.
  EXPECT_EQ(
      c.call(15, {}, "/param/side-effect/network/interfaces", {}, "").reply,
      ".status.interfaces");
  wire::Reply st = c.call(17, {}, "/status/interfaces");
  EXPECT_NE(st.reply->find("wan+a%2Fb/link"), std::string::npos);
  EXPECT_EQ(c.status(14, {}, "/network/interfaces", "\"wan a/b\"", {}, "wan2"),
            "OK");
  EXPECT_NE(c.call(17, {}, "/status/interfaces").reply->find("\nwan2\n"),
            std::string::npos);
  // Enabling the VPN adds /status/vpn.
  EXPECT_EQ(
      c.call(15, {}, "/param/side-effect/services/vpn", {}, "enabled").reply,
      ".status");
  EXPECT_EQ(c.status(17, {}, "/status/vpn"), kNoEnt);
  ASSERT_EQ(c.status(11, {}, "/services/vpn", {}, "enabled", "true"), "OK");
  EXPECT_EQ(c.call(17, {}, "/status/vpn").reply,
            "state\npeer-address\nbytes-in");
  // Descriptions and help.
  EXPECT_EQ(c.call(18, {}, "/network/interfaces").reply, "ops adhl");
  EXPECT_EQ(c.call(18, {}, "/network/interfaces/eth0").reply, "ops hlr");
  EXPECT_EQ(c.call(18, {}, "/services/ssh/listen-interface").reply,
            "ops hgsm\nmatches /network/interfaces");
  EXPECT_EQ(c.call(18, {}, "/services/ssh/permit-root-login").reply,
            "ops hgs\nchoices yes\nchoices no\nchoices prohibit-password");
  EXPECT_EQ(c.call(18, {}, "/param").reply, "ops hl\nflags.1 hide");
  wire::Reply leaf = c.call(17, {}, "/system/hostname");
  EXPECT_FALSE(leaf.reply);
  EXPECT_EQ(leaf.status, "OK");
  wire::Reply h = c.call(19, {}, "/network/interfaces/eth0/mtu");
  EXPECT_EQ(h.status, "OK");
  EXPECT_EQ(h.reply, "Largest+packet+size+in+bytes+%2868+to+9000%29.");
  EXPECT_EQ(c.call(19, {}, "/system/").status, "OK");
  wire::Reply none = c.call(19, {}, "/system/nothing");
  EXPECT_FALSE(none.reply);
  EXPECT_EQ(none.status, kNoEnt);
}

TEST(VorndFormats, EveryDemoNodeHasHelpAndEveryLetterIsUsed) {
  e2e::Daemon d;
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  wire::Reply l = c.call(17, {}, "/");
  ASSERT_TRUE(l.reply);
  std::string letters, line;
  size_t nodes = 0;
  std::stringstream ss(*l.reply);
  while (std::getline(ss, line)) {
    if (line.rfind("param", 0) == 0) continue;  // the clients' own branch
    ++nodes;
    EXPECT_EQ(c.status(19, {}, "/" + line), "OK") << line;
    wire::Reply desc = c.call(18, {}, "/" + line);
    ASSERT_TRUE(desc.reply) << line;
    letters += desc.reply->substr(4, desc.reply->find('\n') - 4);
  }
  for (char op : std::string("adhlgsrm"))
    EXPECT_NE(letters.find(op), std::string::npos) << op;
  EXPECT_GE(nodes, 60u);
  EXPECT_LE(nodes, 120u);
}

}  // namespace
