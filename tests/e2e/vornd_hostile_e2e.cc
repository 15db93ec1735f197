// vornd against peers that never log in, run it out of descriptors, guess
// names or forge log lines: it serves its session, never spins nor grows.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "support/e2e.h"

namespace {

using Clients = std::vector<std::unique_ptr<e2e::RawClient>>;

// Returns the CPU clock ticks pid spends in one second: a loop woken by a
// listener it cannot serve burns most of them.
long ticks_in_a_second(pid_t pid) {
  auto ticks = [&] {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> f{std::istream_iterator<std::string>(rest), {}};
    return std::stol(f.at(11)) + std::stol(f.at(12));  // user and system
  };
  long before = ticks();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  return ticks() - before;
}

// Returns how many of the clients the daemon has closed.
size_t closed(const Clients &cs) {
  return std::count_if(cs.begin(), cs.end(),
                       [](auto &c) { return c->closed_within(0); });
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
    std::string hello = wire::encode_hello();
    if (i % 3)
      cs.back()->send_raw(i % 3 == 1 ? hello.substr(0, 4)
                                     : hello + announce(200) + "half");
  }
  return cs;
}

// Peers that never log in: floods, no descriptors left, a pile of half
// frames. The logged-in session is served throughout.
TEST(VorndHostile, PeersBeforeLoginNeitherStopNorGrowTheDaemon) {
  e2e::Daemon d({"--max-connections", "200", "--login-timeout", "5"});
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  Clients cs;
  for (int round = 0; round < 6; ++round) {
    for (auto &c : flood(d, 60)) cs.push_back(std::move(c));
    EXPECT_EQ(good.status(17, {}, "/"), "OK") << "round " << round;
  }
  // The limit holds: all but the newest few were closed at once.
  EXPECT_TRUE(
      e2e::eventually([&] { return closed(cs) >= cs.size() - 199; }, 2000))
      << closed(cs) << " of " << cs.size() << " closed";
  // A newcomer still gets in (pushing out the oldest waiting peer); the
  // rest go when their time to log in is over.
  EXPECT_EQ(e2e::RawClient(d.socket()).status(0), "OK");
  EXPECT_TRUE(e2e::eventually([&] { return closed(cs) == cs.size(); }, 8000));
  // Not one descriptor left: every accept fails with EMFILE.
  auto fds = std::filesystem::directory_iterator(
      "/proc/" + std::to_string(d.pid()) + "/fd");
  rlimit old{}, none{rlim_t(std::distance(fds, {})), 0};
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
  none.rlim_max = old.rlim_max;
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
  Clients waiting = flood(d, 10);
  EXPECT_LT(ticks_in_a_second(d.pid()), sysconf(_SC_CLK_TCK) / 5);
  // Once descriptors are back, the waiting connections are taken.
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
  EXPECT_EQ(e2e::RawClient(d.socket()).status(0), "OK");
  // Many half frames together stay within a bound.
  auto rss = [&] {  // resident bytes, from the second field of statm
    long size = 0, pages = 0;
    std::ifstream("/proc/" + std::to_string(d.pid()) + "/statm") >> size >>
        pages;
    return pages * sysconf(_SC_PAGESIZE);
  };
  long before = rss();
  Clients half;
  for (int i = 0; i < 150; ++i) {
    half.push_back(std::make_unique<e2e::RawClient>(d.socket()));
    half.back()->send_raw(announce(4000) + std::string(3000, 'y'));
  }
  EXPECT_EQ(good.status(17, {}, "/"), "OK");
  EXPECT_TRUE(closed(half) > 0 && closed(half) < half.size()) << closed(half);
  EXPECT_LT(rss() - before, 8 << 20) << "bytes grown";
  for (const char *line :
       {"connection limit reached", "no greeting in time", "no login in time",
        "out of descriptors", "too much input before login"})
    EXPECT_NE(d.log().find(line), std::string::npos) << line;
}

// The delay's growth is unit-tested (login_delay); here the log folds the
// failures of a peer and escapes the names it was given.
TEST(VorndHostile, FailedLoginsWaitFoldAndCannotForgeTheLog) {
  e2e::Daemon d;
  e2e::RawClient a(d.socket()), b(d.socket());
  // Refused for root (no name) and for anyone else (not their own name).
  const char *forged = "x\n2026-01-01T00:00:00Z vornd: x\x1b[2J";
  for (const char *name : {getuid() ? forged : "", "", ""})
    EXPECT_EQ(a.login(name), "NO");
  EXPECT_EQ(b.login(""), "NO");  // the same peer, after its wait
  EXPECT_EQ(b.login(e2e::user()), "OK");
  EXPECT_EQ(a.login(forged, true), getuid() ? "NO" : "OK");  // root may
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
