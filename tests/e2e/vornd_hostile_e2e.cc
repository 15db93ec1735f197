// vornd against peers that never log in, guess passwords or forge log
// lines: the logged-in client must be served throughout, and the daemon
// must neither spin nor grow.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "support/e2e.h"

namespace {

using Clock = std::chrono::steady_clock;
using Clients = std::vector<std::unique_ptr<e2e::RawClient>>;

// Returns a process's user plus system CPU time in clock ticks.
long cpu_ticks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::vector<std::string> f{std::istream_iterator<std::string>(rest), {}};
  return f.size() > 12 ? std::stol(f[11]) + std::stol(f[12]) : -1;
}

// Returns a process's resident memory in KiB.
long rss_kib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line) && line.rfind("VmRSS:", 0) != 0) {
  }
  return line.empty() ? -1 : std::stol(line.substr(6));
}

// Returns how many of the clients the daemon has closed.
size_t closed(const Clients &cs) {
  size_t n = 0;
  for (const auto &c : cs) n += c->closed_within(0);
  return n;
}

// Returns the first bytes of a frame announcing a body of len bytes.
std::string announce(uint32_t len) {
  return std::string{char(len >> 24), char(len >> 16), char(len >> 8),
                     char(len)};
}

// Opens n connections that stop at a different point each: nothing, half a
// greeting, a greeting and half a frame.
Clients flood(const e2e::Daemon &d, int n) {
  Clients cs;
  for (int i = 0; i < n; ++i) {
    cs.push_back(std::make_unique<e2e::RawClient>(d.socket(), false));
    if (i % 3 == 1) cs.back()->send_raw(wire::encode_hello().substr(0, 4));
    if (i % 3 == 2)
      cs.back()->send_raw(wire::encode_hello() + announce(200) + "half");
  }
  return cs;
}

std::string hostname(e2e::RawClient &c) {
  return c.call(15, {}, "/system", {}, "hostname").reply.value_or("<none>");
}

TEST(VorndHostile, FloodOfIdleConnectionsLeavesTheSessionServed) {
  e2e::Daemon d({"--max-connections", "16", "--login-timeout", "2"});
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  Clients cs;
  for (int round = 0; round < 5; ++round) {
    Clients more = flood(d, 60);
    for (auto &c : more) cs.push_back(std::move(c));
    EXPECT_EQ(hostname(good), "velmar") << "round " << round;
  }
  // The limit holds: all but the newest few were closed at once.
  EXPECT_TRUE(
      e2e::eventually([&] { return closed(cs) >= cs.size() - 15; }, 2000))
      << closed(cs) << " of " << cs.size() << " closed";
  // A newcomer still gets in (pushing out the oldest waiting peer).
  e2e::RawClient late(d.socket());
  EXPECT_EQ(late.status(0), "OK");
  // The rest go when their time to log in is over; the session stays.
  EXPECT_TRUE(e2e::eventually([&] { return closed(cs) == cs.size(); }, 4000));
  EXPECT_TRUE(late.closed_within(4000));
  EXPECT_EQ(hostname(good), "velmar");
  std::string log = d.log();
  EXPECT_NE(log.find("connection limit reached"), std::string::npos);
  EXPECT_NE(log.find("no greeting in time"), std::string::npos);
  EXPECT_NE(log.find("no login in time"), std::string::npos);
}

TEST(VorndHostile, OutOfDescriptorsDoesNotSpin) {
  e2e::Daemon d({"--login-timeout", "3"}, 20);
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  Clients cs = flood(d, 60);
  EXPECT_EQ(hostname(good), "velmar");
  long before = cpu_ticks(d.pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  long spent = cpu_ticks(d.pid()) - before;
  // A loop woken by a listener it cannot serve burns most of a second.
  EXPECT_LT(spent, sysconf(_SC_CLK_TCK) / 5) << "ticks in 1 s";
  e2e::RawClient late(d.socket());
  EXPECT_EQ(late.status(0), "OK");
  EXPECT_EQ(hostname(good), "velmar");
}

TEST(VorndHostile, AcceptFailingForWantOfDescriptorsDoesNotSpin) {
  e2e::Daemon d;
  auto open_fds = [&] {
    auto it = std::filesystem::directory_iterator(
        "/proc/" + std::to_string(d.pid()) + "/fd");
    return std::distance(it, std::filesystem::directory_iterator());
  };
  // Not one descriptor left: every accept fails with EMFILE.
  rlimit old{}, none{};
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
  none = {rlim_t(open_fds()), old.rlim_max};
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
  Clients waiting = flood(d, 10);
  long before = cpu_ticks(d.pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(cpu_ticks(d.pid()) - before, sysconf(_SC_CLK_TCK) / 5);
  EXPECT_NE(d.log().find("out of descriptors"), std::string::npos);
  // Once descriptors are back, the waiting connections are taken.
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
  e2e::RawClient late(d.socket());
  EXPECT_EQ(late.login(e2e::user()), "OK");
}

TEST(VorndHostile, InputBeforeLoginStaysSmall) {
  e2e::Daemon d({"--max-connections", "200"});
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  long rss = rss_kib(d.pid());
  // Big frames announced before login are refused at once...
  std::string body(1 << 20, 'x');
  for (int i = 0; i < 40; ++i) {
    e2e::RawClient c(d.socket());
    c.send_raw(announce(wire::kMaxFrame) + body);
    EXPECT_TRUE(c.closed_within(2000)) << i;
  }
  // ...and many small half frames together stay within a bound.
  Clients half;
  for (int i = 0; i < 150; ++i) {
    half.push_back(std::make_unique<e2e::RawClient>(d.socket()));
    half.back()->send_raw(announce(4000) + std::string(3000, 'y'));
  }
  EXPECT_EQ(hostname(good), "velmar");
  EXPECT_GT(closed(half), 0u);
  EXPECT_LT(closed(half), half.size());
  EXPECT_NE(d.log().find("too much input before login"), std::string::npos);
  EXPECT_LT(rss_kib(d.pid()) - rss, 8 * 1024) << "KiB grown";
}

TEST(VorndHostile, TwelveMebibyteReplyArrivesWhole) {
  e2e::TempDir dir;
  std::string model = dir.path + "/big.json";
  std::ofstream(model) << R"({"nodes": [{"name": "box", "help": "B.",
    "children": [{"name": "blob", "type": "string", "help": "Any text."}]}]})";
  e2e::Daemon d({"--model", model});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  std::string big(12 << 20, 'z');
  big.replace(0, 5, "first");
  ASSERT_EQ(c.status(11, {}, "/box", {}, "blob", big), "OK");
  wire::Reply r = c.call(15, {}, "/box", {}, "blob");
  EXPECT_EQ(r.status, "OK");
  ASSERT_TRUE(r.reply);
  EXPECT_TRUE(*r.reply == big) << r.reply->size() << " bytes came";
  // The session and its uncommitted change are still there.
  EXPECT_EQ(c.call(15, {}, "/box", {}, "blob").reply->size(), big.size());
}

// Returns the milliseconds from since until a failed login as user is
// answered, and moves since to when that login was sent. The daemon counts
// its wait from when it took up the previous failure: after that one was
// sent, but maybe well before it was answered on a slow (emulated) machine.
long failed_login_ms(e2e::RawClient &c, const std::string &user,
                     Clock::time_point &since) {
  auto sent = Clock::now();
  EXPECT_EQ(c.login(user), "NO");
  auto t = Clock::now() - since;
  since = sent;
  return std::chrono::duration_cast<std::chrono::milliseconds>(t).count();
}

TEST(VorndHostile, FailedLoginsSlowDownFoldAndCannotForgeTheLog) {
  e2e::Daemon d;
  e2e::RawClient a(d.socket());
  // Refused for root (no name) and for anyone else (not their own name).
  const std::string forged =
      getuid() ? "bob\n2026-01-01T00:00:00Z vornd: login\x1b[2J" : "";
  auto since = Clock::now();
  EXPECT_LT(failed_login_ms(a, forged, since), 200);
  EXPECT_GE(failed_login_ms(a, "", since), 250);
  EXPECT_GE(failed_login_ms(a, "", since), 500);
  // Another connection of the same peer waits as long.
  e2e::RawClient b(d.socket());
  EXPECT_GE(failed_login_ms(b, "", since), 1000);
  EXPECT_EQ(a.status(0), "OK");  // the no-op is never held up
  EXPECT_EQ(b.login(e2e::user()), "OK");
  // A name with a line end and escapes, as root may log in with.
  EXPECT_EQ(a.login("x\n2026-01-01T00:00:00Z vornd: x\x1b[2J", true),
            getuid() ? "NO" : "OK");
  std::string log = d.log();
  EXPECT_EQ(log.find("\n2026-01-01T00:00:00Z"), std::string::npos) << log;
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
  EXPECT_NE(log.find("\\n2026-01-01T00:00:00Z vornd: "), std::string::npos);
  std::string key = " from local uid " + std::to_string(getuid()) + " refused";
  size_t first = log.find(key), summary = log.find("3 more logins from");
  ASSERT_TRUE(first != std::string::npos && summary != std::string::npos)
      << log;
  EXPECT_GT(log.find(key, first + 1), summary) << "failures logged one by one";
}

}  // namespace
