// Connection states over time: keep-alive no-ops, a hung or closing server,
// the session-ended notice, and the keep-alive thread beside the caller's.
#include <atomic>
#include <thread>

#include "vornal_client.h"

namespace vtest {
namespace {

using Liveness = Client;

// Returns how long one state query takes, in milliseconds.
long timed_state(int &state) {
  auto start = std::chrono::steady_clock::now();
  state = vornal_get_connection_state();
  return ms_since(start);
}

TEST_F(Liveness, AnsweredNoopsKeepItConnected) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  vornal_set_keep_alive(1, 0);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  int sent = s.noops();
  EXPECT_GE(sent, 2);
  EXPECT_LE(sent, 4);
  vornal_set_keep_alive(0, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(s.noops(), sent);  // stopped means stopped
}

TEST_F(Liveness, UnansweredNoopsGiveHungThenLost) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.answer_noops = false;
  auto start = std::chrono::steady_clock::now();
  vornal_set_keep_alive(1, 0);
  long hung = wait_state(VORNAL_STATE_HUNG, 2500);
  ASSERT_GE(hung, 900);
  // While hung the state answers at once, and requests still go through.
  int state = 0;
  EXPECT_LT(timed_state(state), 20);
  EXPECT_EQ(state, VORNAL_STATE_HUNG);
  EXPECT_EQ(call(15, nullptr, "x", nullptr, nullptr, "OK").reply, "x");
  long lost = wait_state(VORNAL_STATE_LOST, 3000);
  ASSERT_GE(lost, 0);
  long total = ms_since(start);
  EXPECT_GE(total, 2900);
  EXPECT_LT(total, 4000);
  // The connection was closed, not just marked.
  for (int i = 0; i < 100 && s.closed_by_peer() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(s.closed_by_peer(), 1);
  EXPECT_FALSE(call(15, nullptr, "x", nullptr, nullptr, "OK").got);
}

TEST_F(Liveness, LateNoopReplyClearsHung) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.noop_delay_ms = 1700;  // late, but before the 3 s limit
  vornal_set_keep_alive(1, 0);
  long hung = wait_state(VORNAL_STATE_HUNG, 2500);
  ASSERT_GE(hung, 900);
  long back = wait_state(VORNAL_STATE_CONNECTED, 1500);
  EXPECT_GE(back, 0);
  EXPECT_LT(hung + back, 2500);
}

TEST_F(Liveness, ServerClosingGivesLost) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.close_connection();
  // No keep-alive running: the state query itself notices.
  EXPECT_GE(wait_state(VORNAL_STATE_LOST, 1000), 0);
  EXPECT_FALSE(call(15, nullptr, "x", nullptr, nullptr, "OK").got);
}

TEST_F(Liveness, ServerClosingDuringRequestGivesNullAtOnce) {
  setenv("VORNAL_TIMEOUT_MS", "5000", 1);
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.answer_requests = false;
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    s.close_connection();
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(call(15, nullptr, "x", nullptr, nullptr, "OK").got);
  EXPECT_LT(ms_since(start), 2000);
  closer.join();
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_LOST);
}

TEST_F(Liveness, SessionEndedNoticeGivesEnded) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  vornal_set_keep_alive(1, 0);
  s.send_notice(wire::kNoticeSessionEnded);
  // The keep-alive thread reads it; the server's close right after must not
  // turn it into lost.
  long waited = -1;
  auto start = std::chrono::steady_clock::now();
  while (ms_since(start) < 1000 && waited < 0) {
    int state = vornal_get_connection_state();
    ASSERT_TRUE(state == VORNAL_STATE_CONNECTED || state == VORNAL_STATE_ENDED)
        << state;
    if (state == VORNAL_STATE_ENDED) waited = ms_since(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GE(waited, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_ENDED);
  EXPECT_FALSE(call(15, nullptr, "x", nullptr, nullptr, "OK").got);
}

// The notice came and the daemon closed, but nothing read it yet: the
// next request fails to write, and the unread notice must still win.
TEST_F(Liveness, NoticeUnreadWhenAWriteFailsStillGivesEnded) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  s.send_notice(wire::kNoticeSessionEnded);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(call(15, nullptr, "x", nullptr, nullptr, "OK").got);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_ENDED);
}

TEST_F(Liveness, RequestsAndNoopsShareTheConnection) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
  vornal_set_keep_alive(1, 0);
  auto start = std::chrono::steady_clock::now();
  int n = 0;
  while (ms_since(start) < 2300) {
    std::string want = std::to_string(n++);
    Result r = call(15, nullptr, want.c_str(), nullptr, nullptr, "OK");
    ASSERT_TRUE(r.got) << n;
    ASSERT_EQ(r.reply, want);
  }
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
  EXPECT_GE(s.noops(), 2);
  std::vector<wire::Request> seen = s.requests();
  for (size_t i = 1; i < seen.size(); ++i)
    ASSERT_GT(seen[i].id, seen[i - 1].id) << i;
}

}  // namespace
}  // namespace vtest
