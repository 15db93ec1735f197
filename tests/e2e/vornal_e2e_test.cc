// The client library against a real vornd: session takeover, a killed, a
// stopped and a slow daemon.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/daemon.h"
#include "vornal.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

// Polls the state until it is want; returns the ms waited or -1.
long wait_state(int want, long max_ms) {
  Clock::time_point start = Clock::now();
  while (ms_since(start) <= max_ms) {
    if (vornal_get_connection_state() == want) return ms_since(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

std::string user_name() {
  passwd *pw = getpwuid(geteuid());
  return pw ? pw->pw_name : "root";
}

// Logs in as the effective user; returns the status, "(none)" without one.
std::string login(bool force) {
  std::string user = user_name();
  vornal_message *m = vornal_send_message(
      VORNAL_MSG_LOGIN, force ? "-force" : "", "", "", user.c_str(), "");
  char *s = m ? vornal_get_message_response_status(m) : nullptr;
  std::string status = s ? s : "(none)";
  free(s);
  vornal_message_free(m);
  return status;
}

// Connects and logs in; fails the test when either does not work.
void open_session(const e2e::Daemon &d) {
  ASSERT_EQ(vornal_connect(d.socket().c_str()), VORNAL_STATE_CONNECTED);
  ASSERT_EQ(login(false), "OK");
}

class VornalE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    vornal_disconnect();
    unsetenv("VORNAL_TIMEOUT_MS");
  }
};

// The first session runs in a child process (one connection per process):
// it logs in, says "r" on the pipe, then reports how many ms after the
// other login began it saw state 3 (or -1 after 5 s).
pid_t first_session(const e2e::Daemon &d, int out) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (vornal_connect(d.socket().c_str()) != VORNAL_STATE_CONNECTED ||
      login(false) != "OK")
    _exit(2);
  vornal_set_keep_alive(1, 0);
  if (write(out, "r", 1) != 1) _exit(3);
  Clock::time_point start = Clock::now();
  long seen = -1;
  while (seen < 0 && ms_since(start) < 5000) {
    int st = vornal_get_connection_state();
    if (st == VORNAL_STATE_ENDED) seen = ms_since(start);
    if (st != VORNAL_STATE_CONNECTED && st != VORNAL_STATE_ENDED) _exit(4);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  vornal_disconnect();
  _exit(write(out, &seen, sizeof seen) == sizeof seen ? 0 : 5);
}

TEST_F(VornalE2E, ForcedLoginEndsTheOtherSession) {
  e2e::Daemon d;
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  pid_t child = first_session(d, p[1]);
  close(p[1]);
  char ready = 0;
  ASSERT_EQ(read(p[0], &ready, 1), 1);
  ASSERT_EQ(vornal_connect(d.socket().c_str()), VORNAL_STATE_CONNECTED);
  EXPECT_EQ(login(false), "INUSE");
  EXPECT_EQ(login(true), "OK");
  long seen = -2;
  EXPECT_EQ(read(p[0], &seen, sizeof seen), (ssize_t)sizeof seen);
  close(p[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GE(seen, 0);
  EXPECT_LT(seen, 3000);
  // The new session is the usable one.
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
  vornal_message *m = vornal_send_message(VORNAL_MSG_LIST, nullptr, "/",
                                          nullptr, nullptr, nullptr);
  char *listing = m ? vornal_get_message_reply(m) : nullptr;
  EXPECT_NE(listing, nullptr);
  free(listing);
  vornal_message_free(m);
}

TEST_F(VornalE2E, KilledDaemonGivesLost) {
  e2e::Daemon d;
  open_session(d);
  vornal_set_keep_alive(1, 0);
  d.signal(SIGKILL);
  EXPECT_GE(wait_state(VORNAL_STATE_LOST, 1000), 0);
  EXPECT_EQ(vornal_send_message(VORNAL_MSG_LIST, nullptr, "/", nullptr, nullptr,
                                nullptr),
            nullptr);
  // Nothing listens any more.
  EXPECT_EQ(vornal_connect(d.socket().c_str()), VORNAL_ERR_UNAVAILABLE);
}

TEST_F(VornalE2E, StoppedDaemonGivesHungThenLost) {
  e2e::Daemon d;
  open_session(d);
  vornal_set_keep_alive(1, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Clock::time_point start = Clock::now();
  ::kill(d.pid(), SIGSTOP);
  long hung = wait_state(VORNAL_STATE_HUNG, 3000);
  EXPECT_GE(hung, 900);
  long lost = wait_state(VORNAL_STATE_LOST, 4000);
  EXPECT_GE(lost, 0);
  long total = ms_since(start);
  EXPECT_GE(total, 2500);
  EXPECT_LT(total, 5000);  // the last no-op went out up to 1 s after the stop
  ::kill(d.pid(), SIGCONT);
}

TEST_F(VornalE2E, UnansweredRequestTimesOut) {
  setenv("VORNAL_TIMEOUT_MS", "500", 1);
  e2e::Daemon d;
  open_session(d);
  ::kill(d.pid(), SIGSTOP);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(
      vornal_send_message(VORNAL_MSG_GET, nullptr, "/", nullptr, "", nullptr),
      nullptr);
  long took = ms_since(start);
  EXPECT_GE(took, 450);
  EXPECT_LT(took, 2000);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_LOST);
  ::kill(d.pid(), SIGCONT);
  // The daemon carries on. Forced, as it may see the new login before the
  // old connection's end.
  ASSERT_EQ(vornal_connect(d.socket().c_str()), VORNAL_STATE_CONNECTED);
  EXPECT_EQ(login(true), "OK");
}

TEST_F(VornalE2E, TcpServerTextReachesTheDaemon) {
  std::string host = "127.0.0.1:" + std::to_string(e2e::free_port());
  e2e::Daemon d({"--listen", host});
  ASSERT_EQ(vornal_connect(host.c_str()), VORNAL_STATE_CONNECTED);
  // No users file: every TCP login is refused, but the exchange works.
  EXPECT_EQ(login(false), "NO");
  vornal_disconnect();
  d.signal(SIGTERM);
  EXPECT_EQ(vornal_connect(host.c_str()), VORNAL_ERR_UNAVAILABLE);
}

}  // namespace
