// vornd against peers that never log in, run it out of descriptors, guess
// names or forge log lines: the logged-in client is served throughout, and
// the daemon neither spins nor grows.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "support/e2e.h"

namespace {

using Clients = std::vector<std::unique_ptr<e2e::RawClient>>;

// Returns the value of field (1-based, after the name) of /proc/PID/stat,
// or of the line starting with field in /proc/PID/status.
long proc(pid_t pid, int stat_field, const std::string &status_line = "") {
  std::string base = "/proc/" + std::to_string(pid);
  std::ifstream in(base + (status_line.empty() ? "/stat" : "/status"));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (!status_line.empty())
    return std::stol(text.substr(text.find(status_line) + status_line.size()));
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::vector<std::string> f{std::istream_iterator<std::string>(rest), {}};
  return std::stol(f.at(stat_field));
}

// Returns the CPU clock ticks the daemon spends in one second: a loop woken
// by a listener it cannot serve burns most of them.
long ticks_in_a_second(const e2e::Daemon &d) {
  long before = proc(d.pid(), 11) + proc(d.pid(), 12);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  return proc(d.pid(), 11) + proc(d.pid(), 12) - before;
}

// Returns how many of the clients the daemon has closed.
size_t closed(const Clients &cs) {
  size_t n = 0;
  for (const auto &c : cs) n += c->closed_within(0);
  return n;
}

// Returns the first bytes of a frame announcing a body of len bytes.
std::string announce(uint32_t len) {
  return {char(len >> 24), char(len >> 16), char(len >> 8), char(len)};
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
    for (auto &c : flood(d, 60)) cs.push_back(std::move(c));
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
  for (const char *line :
       {"connection limit reached", "no greeting in time", "no login in time"})
    EXPECT_NE(d.log().find(line), std::string::npos) << line;
}

TEST(VorndHostile, OutOfDescriptorsDoesNotSpin) {
  // Few descriptors from the start, the rest taken by a flood.
  e2e::Daemon d({"--login-timeout", "3"}, 20);
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  Clients cs = flood(d, 60);
  EXPECT_EQ(hostname(good), "velmar");
  EXPECT_LT(ticks_in_a_second(d), sysconf(_SC_CLK_TCK) / 5);
  EXPECT_EQ(e2e::RawClient(d.socket()).status(0), "OK");
  // Not one descriptor left: every accept fails with EMFILE.
  e2e::Daemon e;
  auto fds = std::filesystem::directory_iterator(
      "/proc/" + std::to_string(e.pid()) + "/fd");
  rlimit old{}, none{rlim_t(std::distance(fds, {})), 0};
  ASSERT_EQ(prlimit(e.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
  none.rlim_max = old.rlim_max;
  ASSERT_EQ(prlimit(e.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
  Clients waiting = flood(e, 10);
  EXPECT_LT(ticks_in_a_second(e), sysconf(_SC_CLK_TCK) / 5);
  EXPECT_NE(e.log().find("out of descriptors"), std::string::npos);
  // Once descriptors are back, the waiting connections are taken.
  ASSERT_EQ(prlimit(e.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
  EXPECT_EQ(e2e::RawClient(e.socket()).login(e2e::user()), "OK");
}

TEST(VorndHostile, InputBeforeLoginStaysSmall) {
  e2e::Daemon d({"--max-connections", "200"});
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  long rss = proc(d.pid(), 0, "VmRSS:");
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
  EXPECT_LT(proc(d.pid(), 0, "VmRSS:") - rss, 8 * 1024) << "KiB grown";
}

// The growing delay itself is unit-tested (login_delay); here it holds for
// a second connection of the same peer, and the log folds the failures.
TEST(VorndHostile, FailedLoginsWaitFoldAndCannotForgeTheLog) {
  e2e::Daemon d;
  e2e::RawClient a(d.socket()), b(d.socket());
  // Refused for root (no name) and for anyone else (not their own name).
  EXPECT_EQ(
      a.login(getuid() ? "bob\n2026-01-01T00:00:00Z vornd: login\x1b[2J" : ""),
      "NO");
  EXPECT_EQ(a.login(""), "NO");
  EXPECT_EQ(a.login(""), "NO");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(b.login(""), "NO");
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(990));
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
