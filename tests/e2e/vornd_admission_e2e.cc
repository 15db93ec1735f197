// Fair admission: a peer that floods vornd with connections pushes out only
// its own, never another peer's connection on its way to a login.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
    if (local) connect(fd, reinterpret_cast<sockaddr *>(&un), sizeof un);
    if (!local) connect(fd, reinterpret_cast<sockaddr *>(&in), sizeof in);
  }
  pause();
  _exit(0);
}

// Returns how many connections of origin the daemon's log shows accepted.
size_t accepted(const e2e::Daemon &d, const std::string &origin) {
  std::istringstream log(d.log());
  size_t n = 0;
  for (std::string line; std::getline(log, line);)
    n += line.find("connection from " + origin) != std::string::npos &&
         line.find("closed") == std::string::npos;
  return n;
}

TEST(VorndAdmission, AFloodOfOnePeerNeverPushesOutAnothersLogin) {
  for (bool local : {false, true}) {
    SCOPED_TRACE(local ? "flood by uid 65534" : "flood over TCP");
    if (local && !e2e::is_root()) {
      std::cout << "skipped: flooding as another uid needs root\n";
      continue;
    }
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
      EXPECT_EQ(waiting.login(e2e::user()), "OK") << "round " << round;
      EXPECT_EQ(waiting.status(23), "OK");
      kill(flooder, SIGKILL);
      waitpid(flooder, nullptr, 0);
    }
    EXPECT_NE(d.log().find("the peer holds its share"), std::string::npos);
  }
}

}  // namespace
