// vornd against peers that never log in, flood it, run it out of descriptors,
// guess names or forge log lines: it serves its sessions, never spins nor
// grows.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/e2e.h"

namespace {

struct Flooders : std::vector<pid_t> {  // killed at the end of the test
  ~Flooders() {
    for (pid_t p : *this)  // never -1, which would signal every process
      if (p > 0) kill(p, SIGKILL), waitpid(p, nullptr, 0);
  }
};

// Forks a peer (uid 65534 when other) that opens n connections to d (TCP when
// port is set), sends sent[i % size] on the i-th, holds them 60 s at most.
void flood(Flooders &fs, const e2e::Daemon &d, int n,
           const std::vector<std::string> &sent, int port = 0,
           bool other = false) {
  sockaddr_un un{AF_UNIX, {}};
  strncpy(un.sun_path, d.socket().c_str(), sizeof un.sun_path - 1);
  sockaddr_in in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  if (pid_t pid = fork()) return fs.push_back(pid);
  alarm(60);  // only async-signal-safe calls from here: tests have threads
  if (other && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
  for (int i = 0; i < n; ++i) {
    int fd = socket(port ? AF_INET : AF_UNIX, SOCK_STREAM, 0);
    connect(fd, port ? (sockaddr *)&in : (sockaddr *)&un,
            port ? sizeof in : sizeof un);
    const std::string &s = sent[i % sent.size()];
    send(fd, s.data(), s.size(), MSG_NOSIGNAL);
  }
  pause();
  _exit(0);
}

// Returns how many lines of d's log hold text, among closes or the others.
size_t lines(const e2e::Daemon &d, const std::string &text, bool closes) {
  std::istringstream log(d.log());
  size_t n = 0;
  for (std::string l; std::getline(log, l);)
    n += l.find(text) != l.npos && (l.find(" closed: ") != l.npos) == closes;
  return n;
}

// Returns a number read from /proc/<pid>/<file>: its field-th, from 0.
long proc(pid_t pid, const char *file, int field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string skip;  // vornd's name in stat holds no blank
  for (int i = 0; i < field; ++i) in >> skip;
  long n = 0;
  return in >> n, n;
}

TEST(VorndHostile, PeersBeforeLoginNeitherStopNorGrowTheDaemon) {
  e2e::Daemon d({"--max-connections", "200", "--login-timeout", "5"});
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login(e2e::user()), "OK");
  std::string hello = wire::encode_hello(), me = "connection from local uid ";
  Flooders fs;  // connections stop at nothing, half a greeting, half a frame
  const size_t was = lines(d, me, 1);  // the fixture's probe
  for (int r = 1; r <= 6; ++r) {
    flood(fs, d, 60,
          {"", hello.substr(0, 4), hello + std::string("\0\0\0\xc8h", 5)});
    EXPECT_TRUE(e2e::eventually([&] { return lines(d, me, 0) >= 60u * r; }));
    EXPECT_EQ(good.status(17, {}, "/"), "OK") << "round " << r;
  }
  // The limit holds: all but the newest few were closed at once; a newcomer
  // still gets in, the rest go when their time to log in is over.
  EXPECT_TRUE(
      e2e::eventually([&] { return lines(d, me, 1) >= was + 161; }, 2000));
  EXPECT_EQ(e2e::RawClient(d.socket()).status(0), "OK");
  EXPECT_TRUE(
      e2e::eventually([&] { return lines(d, me, 1) == was + 361; }, 8000));
  // Not one descriptor left: every accept fails with EMFILE, yet no spin.
  auto fds = std::filesystem::directory_iterator(
      "/proc/" + std::to_string(d.pid()) + "/fd");
  rlimit old{};
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, nullptr, &old), 0);
  rlimit none{rlim_t(std::distance(fds, {})), old.rlim_max};
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
  flood(fs, d, 10, {""});
  long ticks = proc(d.pid(), "stat", 13) + proc(d.pid(), "stat", 14);
  sleep(1);
  ticks = proc(d.pid(), "stat", 13) + proc(d.pid(), "stat", 14) - ticks;
  EXPECT_LT(ticks, sysconf(_SC_CLK_TCK) / 5);
  ASSERT_EQ(prlimit(d.pid(), RLIMIT_NOFILE, &old, nullptr), 0);
  EXPECT_EQ(e2e::RawClient(d.socket()).status(0), "OK");
  // Many half frames together stay within a bound.
  long rss = proc(d.pid(), "statm", 1);
  size_t seen = lines(d, me, 0);
  flood(fs, d, 150,
        {hello + std::string("\0\0\x0f\xa0", 4) + std::string(3000, 'y')});
  std::string much = "too much input before login";
  EXPECT_TRUE(e2e::eventually([&] { return lines(d, me, 0) >= seen + 150; }));
  EXPECT_EQ(good.status(17, {}, "/"), "OK");
  EXPECT_TRUE(lines(d, much, 1) > 0 && lines(d, much, 1) < 150);
  EXPECT_LT((proc(d.pid(), "statm", 1) - rss) * sysconf(_SC_PAGESIZE), 8 << 20);
  for (const char *line : {"connection limit reached", "no greeting in time",
                           "no login in time", "out of descriptors"})
    EXPECT_NE(d.log().find(line), std::string::npos) << line;
}

// A peer's flood pushes out only its own connections: the login's connection
// is older than all of the flood's; a stalled TLS handshake is one of them.
// Failed logins wait, the log folds them (the delay's growth is unit-tested)
// and escapes the names given.
TEST(VorndHostile, FloodsAndFailedLoginsLockNobodyOutNorForgeTheLog) {
  for (bool other : {false, true}) {
    if (other && !e2e::is_root())
      GTEST_SKIP() << "flooding as another uid needs root";
    int port = e2e::free_port();
    e2e::TempDir keys;  // the flood stalls in the TLS handshake
    ASSERT_EQ(e2e::run({"vornd", "--make-cert", keys.path}).exit_code(), 0);
    e2e::Daemon d({"--listen", "127.0.0.1:" + std::to_string(port),
                   "--tls-cert", keys.path + "/vornd.crt", "--tls-key",
                   keys.path + "/vornd.key"});
    chmod(d.dir().c_str(), 0755), chmod(d.socket().c_str(), 0666);
    std::string from = other ? "from local uid 65534" : "from tcp 127.0.0.1:";
    for (int round = 1; round <= 20; ++round) {
      e2e::RawClient waiting(d.socket());
      Flooders fs;
      flood(fs, d, 100, {""}, other ? 0 : port, other);
      EXPECT_TRUE(e2e::eventually(
          [&] { return lines(d, from, 0) >= 100u * round; }, 20000));
      EXPECT_EQ(waiting.login(e2e::user()), "OK") << other << round;
      EXPECT_EQ(waiting.status(23), "OK");
    }
    EXPECT_NE(d.log().find("the peer holds its share"), std::string::npos);
    Flooders stalled;
    flood(stalled, d, 1, {""}, port);
    EXPECT_TRUE(e2e::eventually(
        [&] { return lines(d, "no TLS handshake in time", 1) > 0; }, 8000));
    if (other) {  // on the socket the peer's uid decides: its own name only
      for (auto [name, code] : {std::pair{"root", 2}, {"nobody", 0}})
        EXPECT_EQ(code, e2e::run({"cli", "-T", "-s", d.socket(), "version"}, "",
                                 {std::string("CLI_USER=") + name}, 65534)
                            .exit_code());
    }
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
    std::string me = " from local uid " + std::to_string(getuid()) + " refused";
    size_t first = log.find(me), summary = log.find("3 more logins from");
    ASSERT_TRUE(first != std::string::npos && summary != std::string::npos);
    EXPECT_GT(log.find(me, first + 1), summary) << "logged one by one";
  }
}

}  // namespace
