// The frame codec's refusals, and the client library against an in-test
// server (a scriptable daemon stand-in on a Unix socket in a private folder,
// serving from its own thread): texts, ids, time-outs, signals, the trace,
// the failures of vornal_connect, and the connection states over time
// (keep-alive no-ops, a hung or closing server, the session-ended notice,
// and the keep-alive thread beside the caller's requests).
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "vornal.h"
#include "wire/frame.h"

namespace vtest {
namespace {

using Clock = std::chrono::steady_clock;

void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Returns the milliseconds since start.
long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

// Writes all of data to fd; returns false on error.
bool write_all(int fd, const std::string &data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n =
        ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Answers each request with reply = a2 and status = a5.
class Server {
 public:
  // hello_version is what the server greets with; -1 closes without one,
  // -2 never greets.
  explicit Server(int hello_version = wire::kVersion)
      : hello_version_(hello_version) {
    char tmpl[] = "/tmp/vornal-test-XXXXXX";
    if (mkdtemp(tmpl)) dir_ = tmpl;
    path_ = dir_ + "/d.sock";
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
    ::bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(listen_fd_, 8);
    thread_ = std::thread([this] { run(); });
  }
  ~Server() {
    stop_ = true;
    thread_.join();
    ::close(listen_fd_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const std::string &path() const { return path_; }

  // Behaviour switches, read by the server thread on every frame.
  std::atomic<bool> answer_requests{true}, answer_noops{true};
  std::atomic<int> reply_delay_ms{0}, noop_delay_ms{0};

  // Asks the thread to close the current connection / send a notice.
  void close_connection() { close_req_ = true; }
  void send_notice(uint32_t code) { notice_req_ = code; }

  // Every request received so far (no-ops included), and counts.
  std::vector<wire::Request> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }
  int noops() {
    int n = 0;
    for (const wire::Request &r : requests()) n += r.type == 0;
    return n;
  }
  int closed_by_peer() const { return peer_closed_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      serve(fd);
      ::close(fd);
    }
  }

  // Serves one connection until it closes, is told to close, or stop_.
  void serve(int fd) {
    char hello[wire::kHelloSize];
    if (::recv(fd, hello, sizeof hello, MSG_WAITALL) != sizeof hello) return;
    if (hello_version_ == -1) return;
    if (hello_version_ >= 0 &&
        !write_all(fd, wire::encode_hello((uint16_t)hello_version_)))
      return;
    wire::FrameReader reader;
    while (!stop_) {
      if (close_req_.exchange(false)) return;
      if (uint32_t code = notice_req_.exchange(0)) {
        write_all(fd, wire::encode(wire::Notice{code, "session ended"}));
        return;  // the daemon closes after the notice
      }
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[65536];
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return (void)++peer_closed_;
      reader.feed(std::string_view(buf, static_cast<size_t>(n)));
      wire::Frame f;
      while (reader.next(f) == wire::DecodeStatus::ok)
        if (f.kind == wire::Kind::request && !handle(fd, f.request)) return;
    }
  }

  // Records r and answers it as configured. Returns false when the
  // connection broke.
  bool handle(int fd, const wire::Request &r) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(r);
    }
    bool noop = r.type == 0;
    if (!(noop ? answer_noops : answer_requests)) return true;
    sleep_ms(noop ? noop_delay_ms : reply_delay_ms);
    if (noop) return write_all(fd, wire::encode(wire::Reply{r.id, {}, "OK"}));
    return write_all(fd, wire::encode(wire::Reply{r.id, r.args[1], r.args[4]}));
  }

  int hello_version_;
  std::string dir_, path_;
  int listen_fd_ = -1;
  std::atomic<bool> stop_{false}, close_req_{false};
  std::atomic<uint32_t> notice_req_{0};
  std::atomic<int> peer_closed_{0};
  std::mutex mu_;
  std::vector<wire::Request> requests_;
  std::thread thread_;
};

struct Result {
  bool got = false;  // a handle came back
  wire::Text reply, status;
};

// Returns a copy of a library text (nullopt for null) and releases it.
wire::Text take(char *s) {
  wire::Text copy = s ? wire::Text(s) : std::nullopt;
  free(s);
  return copy;
}

// Sends one request and returns copies of what came back.
Result call(int type, const char *a1, const char *a2, const char *a3,
            const char *a4, const char *a5) {
  vornal_message *m = vornal_send_message(type, a1, a2, a3, a4, a5);
  if (!m) return {};
  Result r{true, take(vornal_get_message_reply(m)),
           take(vornal_get_message_response_status(m))};
  vornal_message_free(m);
  return r;
}

// Polls the state until it equals want. Returns the milliseconds waited, or
// -1 when max_ms passed first.
long wait_state(int want, long max_ms) {
  for (auto start = Clock::now(); ms_since(start) <= max_ms; sleep_ms(10))
    if (vornal_get_connection_state() == want) return ms_since(start);
  return -1;
}

// Leaves the library disconnected, quiet and with its default time-out.
class Vornal : public ::testing::Test {
 protected:
  void TearDown() override {
    vornal_disconnect();
    vornal_set_connection_debugging(0);
    unsetenv("VORNAL_TIMEOUT_MS");
  }
};

// Oversized and cut frames show in the e2e tests, which send them to vornd.
TEST(Frame, RefusesTrailingBytesTextsPastTheBodyAndAForeignGreeting) {
  std::string body = wire::encode(wire::Reply{3, "abc", "OK"});
  body.erase(0, wire::kLengthSize);
  wire::Frame f;
  EXPECT_EQ(wire::decode_body(body + "!", f), wire::DecodeStatus::bad);
  body[6] = 0x7F;  // a text length that runs past the body
  EXPECT_EQ(wire::decode_body(body, f), wire::DecodeStatus::bad);
  EXPECT_EQ(wire::decode_hello(wire::encode_hello(9)), 9);
  EXPECT_FALSE(wire::decode_hello(std::string("VORX\0\1\0\0", 8)));
}

// Connects to s; fails the test when it does not work.
void connect(const Server &s) {
  ASSERT_EQ(vornal_connect(s.path().c_str()), VORNAL_STATE_CONNECTED);
}

// The server answers every request with a2 as reply and a5 as status.
Result echo(const char *text) {
  return call(15, nullptr, text, nullptr, nullptr, "OK");
}

// NULL and "" in requests reach vornd apart: a bare name resets a value in
// the terminal tests, an empty one is refused in the values transcript.
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
  EXPECT_GE(ms_since(start), 290);
  EXPECT_EQ(vornal_get_connection_state(), VORNAL_STATE_LOST);
  EXPECT_FALSE(echo("a").got);
  EXPECT_EQ(s.requests().size(), 1u) << "a lost link sends nothing";
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

// The lines themselves show with cli -D in the transcripts.
TEST_F(Vornal, TraceLeavesOutNoopsAndStopsWhenTurnedOff) {
  Server s;
  connect(s);
  testing::internal::CaptureStderr();
  vornal_set_connection_debugging(1);
  vornal_set_keep_alive(1, 0);
  echo("traced");
  sleep_ms(1300);
  vornal_set_keep_alive(0, 0);
  vornal_set_connection_debugging(0);
  echo("not traced");
  std::string text = testing::internal::GetCapturedStderr();
  EXPECT_GE(s.noops(), 2);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
}

// Unknown hosts and refused connections show in the startup transcript.
TEST_F(Vornal, ConnectFailuresHaveTheirCodes) {
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
  // While hung, requests still go through.
  EXPECT_EQ(echo("x").reply, "x");
  ASSERT_GE(wait_state(VORNAL_STATE_LOST, 3000), 0);
  EXPECT_GE(ms_since(start), 2900);
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
  ASSERT_GE(wait_state(VORNAL_STATE_HUNG, 2500), 900);
  EXPECT_GE(wait_state(VORNAL_STATE_CONNECTED, 1500), 0);
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
