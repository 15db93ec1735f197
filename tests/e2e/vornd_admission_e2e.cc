// Nobody locked out: a peer's flood of connections pushes out only its own.
// Nothing lost: a commit vornd cannot make durable is retried, written out.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "support/e2e.h"

namespace {

// Forks a flooder that opens n connections (on the Unix socket as uid
// 65534, or over TCP) and holds them until killed, for 60 s at most.
pid_t flood(const e2e::Daemon &d, int port, bool local, int n) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  alarm(60);
  if (local && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
  sockaddr_un un{AF_UNIX, {}};
  strncpy(un.sun_path, d.socket().c_str(), sizeof un.sun_path - 1);
  sockaddr_in in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  for (int i = 0; i < n; ++i) {
    int fd = socket(local ? AF_UNIX : AF_INET, SOCK_STREAM, 0);
    connect(fd, local ? reinterpret_cast<sockaddr *>(&un) : (sockaddr *)&in,
            local ? sizeof un : sizeof in);
  }
  pause();
  _exit(0);
}

// Returns how many connections of origin the daemon's log shows accepted.
size_t accepted(const e2e::Daemon &d, const std::string &origin) {
  std::istringstream log(d.log());
  size_t n = 0;
  for (std::string l; std::getline(log, l);)
    n += l.find("from " + origin) != l.npos && l.find("closed") == l.npos;
  return n;
}

TEST(VorndAdmission, AFloodOfOnePeerNeverPushesOutAnothersLogin) {
  for (bool local : {false, true}) {
    if (local && !e2e::is_root())
      GTEST_SKIP() << "flooding as another uid needs root";
    int port = e2e::free_port();
    e2e::Daemon d({"--listen", "127.0.0.1:" + std::to_string(port)});
    chmod(d.dir().c_str(), 0755);
    chmod(d.socket().c_str(), 0666);
    std::string origin = local ? "local uid 65534" : "tcp 127.0.0.1:";
    for (int round = 0; round < 20; ++round) {
      // The login's connection is older than all the flood's: a daemon
      // that pushes out its oldest waiting connection would drop it.
      e2e::RawClient waiting(d.socket());
      pid_t flooder = flood(d, port, local, 100);
      EXPECT_TRUE(e2e::eventually(
          [&] { return accepted(d, origin) >= 100u * (round + 1); }, 20000));
      EXPECT_EQ(waiting.login(e2e::user()), "OK")
          << local << " round " << round;
      EXPECT_EQ(waiting.status(23), "OK");
      kill(flooder, SIGKILL);
      waitpid(flooder, nullptr, 0);
    }
    EXPECT_NE(d.log().find("the peer holds its share"), std::string::npos);
  }
}

TEST(VorndDurability, AFailedCommitIsKeptRetriedAndWrittenOut) {
  e2e::TempDir st;
  const std::string store = st.path + "/store.json", tmp = store + ".tmp";
  auto stored = [&] { return e2e::run({"/bin/cat", store}).out; };
  e2e::Daemon d({"--store", store});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  auto set = [&](const char *param, const char *value) {
    return c.status(11, {}, "/system", {}, param, value);
  };
  // A folder in the way of the temporary file fails a write even for root.
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(set("hostname", "first-host"), "OK");
  EXPECT_EQ(c.status(13).rfind("ERR ", 0), 0u);
  EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "first-host");
  ASSERT_EQ(rmdir(tmp.c_str()), 0);
  EXPECT_EQ(c.status(13), "OK");  // the retry saves what failed before
  EXPECT_NE(stored().find("\"first-host\""), std::string::npos);
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(set("hostname", "second-host"), "OK");
  ASSERT_EQ(set("location", "a \"b\" c\\d =/x"), "OK");
  EXPECT_EQ(c.status(13).rfind("ERR ", 0), 0u);
  EXPECT_EQ(c.status(23), "OK");  // logout: the session and its changes end
  EXPECT_EQ(stored().find("second-host"), std::string::npos);
  EXPECT_NE(d.log().find("error: unsaved: set /system hostname=second-host"),
            std::string::npos);
  std::string saved;
  for (const auto &e : std::filesystem::directory_iterator(st.path))
    if (e.path().string().find(".unsaved-") != std::string::npos)
      saved = e.path().string();
  ASSERT_FALSE(saved.empty()) << d.log();
  // Run again, the lines bring back exactly what was lost.
  ASSERT_EQ(rmdir(tmp.c_str()), 0);
  e2e::RunResult r =
      e2e::run({"cli", "-C", "-T", "-s", d.socket(), "-f", saved}, "",
               {"CLI_USER=" + e2e::user()});
  EXPECT_EQ(r.exit_code(), 0) << r.out << r.err;
  EXPECT_NE(stored().find(R"("a \"b\" c\\d =/x")"), std::string::npos);
  EXPECT_NE(stored().find("\"second-host\""), std::string::npos);
}

}  // namespace
