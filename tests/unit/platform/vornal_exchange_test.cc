// The library's requests against an in-test server: texts, ids, time-outs,
// signals, the trace, and the failures of vornal_connect.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "vornal_client.h"

namespace vtest {
namespace {

using Exchange = Client;
using Connect = Client;

TEST_F(Exchange, NullAndEmptyTextsRoundTrip) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  // The server answers with a2 as reply and a5 as status.
  Result r = call(11, nullptr, "", "x y", nullptr, nullptr);
  ASSERT_TRUE(r.got);
  EXPECT_EQ(r.reply, "");
  EXPECT_EQ(r.status, std::nullopt);
  r = call(15, "", nullptr, "", "", "OK");
  ASSERT_TRUE(r.got);
  EXPECT_EQ(r.reply, std::nullopt);
  EXPECT_EQ(r.status, "OK");
  std::vector<wire::Request> seen = s.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].type, 11);
  EXPECT_EQ(seen[0].args,
            (std::array<wire::Text, 5>{std::nullopt, "", "x y", std::nullopt,
                                       std::nullopt}));
  EXPECT_EQ(seen[1].args,
            (std::array<wire::Text, 5>{"", std::nullopt, "", "", "OK"}));
}

TEST_F(Exchange, LargeReplyArrivesWhole) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  std::string big(700000, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = '\n';
  Result r = call(17, nullptr, big.c_str(), nullptr, nullptr, "OK");
  ASSERT_TRUE(r.got);
  EXPECT_EQ(r.reply, big);
  // Over the frame limit: refused locally, the connection stays usable.
  std::string huge(wire::kMaxFrame, 'y');
  EXPECT_FALSE(call(17, nullptr, huge.c_str(), nullptr, nullptr, "OK").got);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
  EXPECT_EQ(call(15, nullptr, "a", nullptr, nullptr, "OK").status, "OK");
}

TEST_F(Exchange, IdsIncreaseAndStrayRepliesAreSkipped) {
  Server s;
  s.stray_replies = true;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  for (int i = 0; i < 5; ++i) {
    std::string want = "value " + std::to_string(i);
    Result r = call(15, nullptr, want.c_str(), nullptr, nullptr, "OK");
    ASSERT_TRUE(r.got);
    EXPECT_EQ(r.reply, want);  // not the stray "stray"
  }
  std::vector<wire::Request> seen = s.requests();
  ASSERT_EQ(seen.size(), 5u);
  for (size_t i = 1; i < seen.size(); ++i)
    EXPECT_GT(seen[i].id, seen[i - 1].id);
}

TEST_F(Exchange, SilentServerTimesOutToLost) {
  setenv("VORNAL_TIMEOUT_MS", "300", 1);
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.answer_requests = false;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call(15, nullptr, "a", nullptr, nullptr, "OK").got);
  long took = ms_since(start);
  EXPECT_GE(took, 290);
  EXPECT_LT(took, 2000);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_LOST);
  // Lost stays lost: the next request fails at once.
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call(15, nullptr, "a", nullptr, nullptr, "OK").got);
  EXPECT_LT(ms_since(start), 100);
  vornal_disconnect();
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_NOT_CONNECTED);
}

std::atomic<int> g_signals{0};
void count_signal(int) {
  ++g_signals;
}

// Sends SIGUSR1 to the main thread every 2 ms during a slow reply.
void request_under_signals(int sa_flags) {
  struct sigaction sa {
  }, old{};
  sa.sa_handler = count_signal;
  sa.sa_flags = sa_flags;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, &old);
  setenv("VORNAL_TIMEOUT_MS", "2000", 1);
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.reply_delay_ms = 400;
  g_signals = 0;
  std::atomic<bool> done{false};
  pthread_t self = pthread_self();
  std::thread pest([&] {
    while (!done) {
      pthread_kill(self, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  Result r = call(15, nullptr, "still here", nullptr, nullptr, "OK");
  done = true;
  pest.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_GT(g_signals.load(), 20);
  ASSERT_TRUE(r.got);
  EXPECT_EQ(r.reply, "still here");
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
}

TEST_F(Exchange, SignalsDuringARequestDoNotBreakIt) {
  request_under_signals(SA_RESTART);
  request_under_signals(0);
}

std::atomic<int> g_inner_state{-1};
std::atomic<bool> g_inner_got{true};

// Calls back into the library, as the shell's interrupt handler does.
void reenter(int) {
  vornal_message *m = vornal_send_message(23, "", "", "", "", "");
  g_inner_got = m != nullptr;
  vornal_message_free(m);
  g_inner_state = vornal_get_connection_state();
}

TEST_F(Exchange, HandlerCallingInDuringARequestDoesNotDeadlock) {
  struct sigaction sa {
  }, old{};
  sa.sa_handler = reenter;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR2, &sa, &old);
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.reply_delay_ms = 300;
  pthread_t self = pthread_self();
  std::thread poke([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(self, SIGUSR2);
  });
  Result r = call(15, nullptr, "outer", nullptr, nullptr, "OK");
  poke.join();
  sigaction(SIGUSR2, &old, nullptr);
  EXPECT_FALSE(g_inner_got.load());  // refused at once, not queued
  EXPECT_EQ(g_inner_state.load(), VORNAL_STATE_CONNECTED);
  EXPECT_EQ(r.reply, "outer");
  EXPECT_EQ(s.requests().size(), 1u);
}

// Runs body with stderr sent to a file and returns what was written.
template <typename F>
std::string capture_stderr(F body) {
  char path[] = "/tmp/vornal-trace-XXXXXX";
  int fd = mkstemp(path);
  int saved = dup(2);
  dup2(fd, 2);
  body();
  dup2(saved, 2);
  close(saved);
  close(fd);
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  unlink(path);
  return ss.str();
}

TEST_F(Exchange, TraceShowsRequestsAndRepliesButNotNoops) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  std::string log = capture_stderr([&] {
    vornal_set_connection_debugging(1);
    vornal_set_keep_alive(1, 0);
    call(11, nullptr, "", "say \"hi\"", nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    vornal_set_keep_alive(0, 0);
    vornal_set_connection_debugging(0);
    call(15, nullptr, "not traced", nullptr, nullptr, "OK");
  });
  EXPECT_GE(s.noops(), 2);
  EXPECT_NE(log.find("type 11 (NULL, \"\", \"say \\\"hi\\\"\", NULL, NULL)\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("reply \"\" status NULL\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("type 0 "), std::string::npos) << log;
  EXPECT_EQ(log.find("not traced"), std::string::npos) << log;
  int lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 2) << log;
}

TEST_F(Connect, FailuresHaveTheirCodes) {
  EXPECT_EQ(vornal_connect("/nonexistent/vornd.sock"), VORNAL_ERR_UNAVAILABLE);
  EXPECT_EQ(vornal_connect("no-such-host.invalid"), VORNAL_ERR_NOHOST);
  EXPECT_EQ(vornal_connect("localhost:99999"), VORNAL_ERR_NOHOST);
  EXPECT_EQ(vornal_connect("[::1"), VORNAL_ERR_NOHOST);
  EXPECT_EQ(vornal_connect(":7077"), VORNAL_ERR_NOHOST);
  EXPECT_EQ(vornal_connect("127.0.0.1:1"), VORNAL_ERR_UNAVAILABLE);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_NOT_CONNECTED);
  for (int code : {0, 3, 4, 5, 7, 68, 69, 71, 75, 76, 77}) {
    std::string text = vornal_conn_error(code);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text, vornal_conn_error(1000)) << code;
  }
}

TEST_F(Connect, GreetingsMustMatch) {
  Server other_version(wire::kVersion + 1);
  EXPECT_EQ(vornal_connect(other_version.path().c_str()), VORNAL_ERR_PROTOCOL);
  Server hangs_up(-1);
  EXPECT_EQ(vornal_connect(hangs_up.path().c_str()), VORNAL_ERR_PROTOCOL);
  setenv("VORNAL_TIMEOUT_MS", "200", 1);
  Server mute(-2);
  EXPECT_EQ(vornal_connect(mute.path().c_str()), VORNAL_ERR_TIMEOUT);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_NOT_CONNECTED);
}

TEST_F(Connect, ConnectingAgainClosesTheOldConnection) {
  Server a, b;
  ASSERT_EQ(vornal_connect(a.path().c_str()), VORNAL_STATE_CONNECTED);
  ASSERT_EQ(vornal_connect(b.path().c_str()), VORNAL_STATE_CONNECTED);
  for (int i = 0; i < 100 && a.closed_by_peer() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(a.closed_by_peer(), 1);
  EXPECT_EQ(call(15, nullptr, "b", nullptr, nullptr, "OK").reply, "b");
  EXPECT_EQ(a.requests().size(), 0u);
}

}  // namespace
}  // namespace vtest
