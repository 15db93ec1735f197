// The frame codec's refusals (its round trips show in the library tests, the
// wire_frame fuzz target feeds frames in pieces), and the library against an
// in-test server: texts, ids, time-outs, signals,
// the trace, the failures of vornal_connect, and the connection states over
// time (keep-alive no-ops, a hung or closing server, the session-ended
// notice, and the keep-alive thread beside the caller's requests).
#include <pthread.h>
#include <signal.h>

#include "vornal_harness.h"

namespace vtest {
namespace {

// Checks what a fresh reader makes of bytes.
void decode_one(const std::string &bytes, wire::DecodeStatus want) {
  wire::FrameReader r;
  r.feed(bytes);
  wire::Frame f;
  EXPECT_EQ(r.next(f), want);
}

TEST(Frame, RefusesOversizedTruncatedAndTrailing) {
  std::string big;  // a length one byte over the maximum
  for (int shift = 24; shift >= 0; shift -= 8)
    big.push_back(static_cast<char>(((wire::kMaxFrame + 1) >> shift) & 0xFF));
  decode_one(big, wire::DecodeStatus::bad);
  std::string ok = wire::encode(wire::Reply{3, "abc", "OK"});
  decode_one(ok.substr(0, ok.size() - 1), wire::DecodeStatus::need_more);
  // A text length that runs past the body is malformed, not "need more".
  std::string body = ok.substr(wire::kLengthSize);
  body[6] = 0x7F;
  wire::Frame f;
  EXPECT_EQ(wire::decode_body(body, f), wire::DecodeStatus::bad);
  std::string trailing = ok.substr(wire::kLengthSize) + "!";
  EXPECT_EQ(wire::decode_body(trailing, f), wire::DecodeStatus::bad);
  EXPECT_EQ(wire::decode_body(std::string("\x09", 1), f),
            wire::DecodeStatus::bad);
}

TEST(Frame, Hello) {
  EXPECT_EQ(wire::decode_hello(wire::encode_hello(9)), 9);
  EXPECT_FALSE(wire::decode_hello("VORX\0\1\0\0"));
  EXPECT_FALSE(wire::decode_hello("VORN"));
}

// Connects to s; fails the test when it does not work.
void connect(const Server &s) {
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
}

// The server answers every request with a2 as reply and a5 as status.
Result echo(const char *text) {
  return call(15, nullptr, text, nullptr, nullptr, "OK");
}

TEST_F(Vornal, NullAndEmptyTextsRoundTripAndLargeRepliesArriveWhole) {
  Server s;
  connect(s);
  Result r = call(11, nullptr, "", "x y", nullptr, nullptr);
  ASSERT_TRUE(r.got);
  EXPECT_EQ(r.reply, "");
  EXPECT_EQ(r.status, std::nullopt);
  r = call(15, "", nullptr, "", "", "OK");
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
  std::string big(700000, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = '\n';
  EXPECT_EQ(echo(big.c_str()).reply, big);
  // Over the frame limit: refused locally, the connection stays usable.
  std::string huge(wire::kMaxFrame, 'y');
  EXPECT_FALSE(echo(huge.c_str()).got);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
  EXPECT_EQ(echo("a").status, "OK");
}

TEST_F(Vornal, SilentServerTimesOutToLostAndLostStaysLost) {
  setenv("VORNAL_TIMEOUT_MS", "300", 1);
  Server s;
  connect(s);
  s.answer_requests = false;
  auto start = Clock::now();
  EXPECT_FALSE(echo("a").got);
  long took = ms_since(start);
  EXPECT_GE(took, 290);
  EXPECT_LT(took, 2000);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_LOST);
  start = Clock::now();
  EXPECT_FALSE(echo("a").got);
  EXPECT_LT(ms_since(start), 100);
  vornal_disconnect();
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_NOT_CONNECTED);
}

std::atomic<int> g_signals{0};
void count_signal(int) {
  ++g_signals;
}

// SIGUSR1 every 2 ms during a request answered after 400 ms.
TEST_F(Vornal, SignalsDuringARequestDoNotBreakIt) {
  setenv("VORNAL_TIMEOUT_MS", "2000", 1);
  for (int flags : {SA_RESTART, 0}) {
    struct sigaction sa {
    }, old{};
    sa.sa_handler = count_signal;
    sa.sa_flags = flags;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, &old);
    Server s;
    connect(s);
    s.reply_delay_ms = 400;
    g_signals = 0;
    std::atomic<bool> done{false};
    pthread_t self = pthread_self();
    std::thread pest([&] {
      for (; !done; sleep_ms(2)) pthread_kill(self, SIGUSR1);
    });
    EXPECT_EQ(echo("still here").reply, "still here");
    done = true;
    pest.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_GT(g_signals.load(), 20);
    EXPECT_EQ(s.requests().size(), 1u);
    EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
    vornal_disconnect();
  }
}

TEST_F(Vornal, TraceShowsRequestsAndRepliesButNotNoops) {
  Server s;
  connect(s);
  testing::internal::CaptureStderr();
  vornal_set_connection_debugging(1);
  vornal_set_keep_alive(1, 0);
  call(11, nullptr, "", "say \"hi\"", nullptr, nullptr);
  sleep_ms(1300);
  vornal_set_keep_alive(0, 0);
  vornal_set_connection_debugging(0);
  echo("not traced");
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_GE(s.noops(), 2);
  // The no-ops go out beside the request, so its number is not fixed.
  EXPECT_NE(
      text.find(" type 11 (NULL, \"\", \"say \\\"hi\\\"\", NULL, NULL)\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find(" reply \"\" status NULL\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
}

TEST_F(Vornal, ConnectFailuresHaveTheirCodes) {
  EXPECT_EQ(vornal_connect("/nonexistent/vornd.sock"), VORNAL_ERR_UNAVAILABLE);
  for (const char *bad :
       {"no-such-host.invalid", "localhost:99999", "[::1", ":7077"})
    EXPECT_EQ(vornal_connect(bad), VORNAL_ERR_NOHOST) << bad;
  EXPECT_EQ(vornal_connect("127.0.0.1:1"), VORNAL_ERR_UNAVAILABLE);
  Server other_version(wire::kVersion + 1), hangs_up(-1);
  EXPECT_EQ(vornal_connect(other_version.path().c_str()), VORNAL_ERR_PROTOCOL);
  EXPECT_EQ(vornal_connect(hangs_up.path().c_str()), VORNAL_ERR_PROTOCOL);
  setenv("VORNAL_TIMEOUT_MS", "200", 1);
  Server mute(-2);
  EXPECT_EQ(vornal_connect(mute.path().c_str()), VORNAL_ERR_TIMEOUT);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_NOT_CONNECTED);
}

TEST_F(Vornal, AnsweredNoopsKeepItConnectedAndStopWhenAsked) {
  Server s;
  connect(s);
  vornal_set_keep_alive(1, 0);
  auto start = Clock::now();
  int n = 0;
  // Requests go on beside the keep-alive thread.
  while (ms_since(start) < 2500) {
    std::string want = std::to_string(n++);
    ASSERT_EQ(echo(want.c_str()).reply, want) << n;
    ASSERT_EQ(vornal_get_connection_state(), VORNAL_STATE_CONNECTED);
    sleep_ms(20);
  }
  int sent = s.noops();
  EXPECT_GE(sent, 2);
  EXPECT_LE(sent, 4);
  std::vector<wire::Request> seen = s.requests();
  for (size_t i = 1; i < seen.size(); ++i)
    ASSERT_GT(seen[i].id, seen[i - 1].id) << i;
  vornal_set_keep_alive(0, 0);
  sleep_ms(1200);
  EXPECT_EQ(s.noops(), sent);  // stopped means stopped
}

TEST_F(Vornal, UnansweredNoopsGiveHungThenLost) {
  Server s;
  connect(s);
  s.answer_noops = false;
  auto start = Clock::now();
  vornal_set_keep_alive(1, 0);
  ASSERT_GE(wait_state(VORNAL_STATE_HUNG, 2500), 900);
  // While hung the state answers at once, and requests still go through.
  auto asked = Clock::now();
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_HUNG);
  EXPECT_LT(ms_since(asked), 20);
  EXPECT_EQ(echo("x").reply, "x");
  ASSERT_GE(wait_state(VORNAL_STATE_LOST, 3000), 0);
  long total = ms_since(start);
  EXPECT_GE(total, 2900);
  EXPECT_LT(total, 4000);
  // The connection was closed, not just marked.
  for (int i = 0; i < 100 && s.closed_by_peer() == 0; ++i) sleep_ms(10);
  EXPECT_EQ(s.closed_by_peer(), 1);
  EXPECT_FALSE(echo("x").got);
}

TEST_F(Vornal, LateNoopReplyClearsHung) {
  Server s;
  connect(s);
  s.noop_delay_ms = 1700;  // late, but before the 3 s limit
  vornal_set_keep_alive(1, 0);
  long hung = wait_state(VORNAL_STATE_HUNG, 2500);
  ASSERT_GE(hung, 900);
  long back = wait_state(VORNAL_STATE_CONNECTED, 1500);
  EXPECT_GE(back, 0);
  EXPECT_LT(hung + back, 2500);
}

TEST_F(Vornal, ServerClosingGivesLostAtOnceEvenDuringARequest) {
  Server s;
  connect(s);
  s.close_connection();
  // No keep-alive running: the state query itself notices.
  EXPECT_GE(wait_state(VORNAL_STATE_LOST, 1000), 0);
  EXPECT_FALSE(echo("x").got);
  setenv("VORNAL_TIMEOUT_MS", "5000", 1);
  connect(s);
  s.answer_requests = false;
  std::thread closer([&] {
    sleep_ms(200);
    s.close_connection();
  });
  auto start = Clock::now();
  EXPECT_FALSE(echo("x").got);
  EXPECT_LT(ms_since(start), 2000);
  closer.join();
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_LOST);
}

// The notice came and the daemon closed, but nothing read it yet: the
// next request fails to write, and the unread notice must still win.
TEST_F(Vornal, NoticeUnreadWhenAWriteFailsStillGivesEnded) {
  Server s;
  connect(s);
  s.send_notice(wire::kNoticeSessionEnded);
  sleep_ms(200);
  EXPECT_FALSE(echo("x").got);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_ENDED);
}

}  // namespace
}  // namespace vtest
