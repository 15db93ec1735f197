// The frame codec's refusals, and the client library against a scriptable
// daemon stand-in: texts, connect failures, and connection states over time.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "support/e2e.h"
#include "vornal.h"
#include "wire/bulk.h"
#include "wire/frame.h"

namespace {

using e2e::eventually;

// A daemon stand-in on a Unix socket, serving one connection at a time
// from its own thread: greets with version hello (-1: hangs up, -2: never
// greets), then echoes each request's a2 and a5 as reply and status; a
// listing with descriptions lists a, b, c and describes each as "kept"
// and its path, in two frames.
struct Server {
  explicit Server(int hello = wire::kVersion) : hello_(hello) {
    sockaddr_un addr{AF_UNIX, {}};
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    listen(fd_, 8);
    thread_ = std::thread([this] {
      for (pollfd p{fd_, POLLIN, 0}; !stop_;) {
        if (poll(&p, 1, 20) <= 0) continue;
        int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        peer_closed += serve(fd) == 0;
        close(fd);
      }
    });
  }
  ~Server() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  e2e::TempDir dir;
  std::string path = dir.path + "/d.sock";
  std::atomic<bool> answer_requests{true};
  std::atomic<int> noop_delay_ms{0}, peer_closed{0};
  std::atomic<size_t> requests{0};  // other than no-ops
  std::atomic<uint32_t> notice{0};  // sent, then the connection closed

 private:
  // Serves fd until it closes (returns 0), breaks or the stand-in stops.
  int serve(int fd) {
    char hello[wire::kHelloSize];
    if (recv(fd, hello, sizeof hello, MSG_WAITALL) != sizeof hello ||
        hello_ == -1 || (hello_ >= 0 && !put(fd, wire::encode_hello(hello_))))
      return -1;
    wire::FrameReader reader;
    char buf[65536];
    for (wire::Frame f; !stop_;) {
      if (uint32_t code = notice.exchange(0))
        return put(fd, wire::encode(wire::Notice{code, ""})), -1;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return n;
      for (reader.feed({buf, size_t(n)});
           reader.next(f) == wire::DecodeStatus::ok;) {
        const wire::Request &r = f.request;
        requests += r.type != 0;
        if (r.type && !answer_requests) continue;
        if (!r.type) usleep(noop_delay_ms * 1000);
        if (r.type == wire::kListDescribed && !put_bulk(fd, r.id)) return -1;
        if (r.type == wire::kListDescribed) continue;
        if (!put(fd, wire::encode(wire::Reply{r.id, r.args[1], r.args[4]})))
          return -1;
      }
    }
    return -1;
  }
  // Answers a listing with descriptions with id; returns false on error.
  static bool put_bulk(int fd, uint32_t id) {
    std::string ab, c;
    wire::append_entry(ab, "kept /a", "OK");
    wire::append_entry(ab, "kept /b", "OK");
    wire::append_entry(c, "kept /c", "OK");
    return put(fd, wire::encode(wire::Reply{id, "a\nb\nc", "OK"}) +
                       wire::encode(wire::Reply{id, ab, "MORE"}) +
                       wire::encode(wire::Reply{id, c, "END"}));
  }
  // Writes all of data to fd; returns false on error.
  static bool put(int fd, const std::string &data) {
    return send(fd, data.data(), data.size(), MSG_NOSIGNAL) ==
           ssize_t(data.size());
  }
  int hello_, fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Sends one request, which the stand-in echoes; returns its reply (NULL:
// a Text without value), nullopt without a handle.
std::optional<wire::Text> call(const char *a2) {
  vornal_message *m = vornal_send_message(15, nullptr, a2, nullptr, "", "OK");
  if (!m) return {};
  char *text = vornal_get_message_reply(m);
  wire::Text r = text ? wire::Text(text) : std::nullopt;
  free(text);
  vornal_message_free(m);
  return r;
}

// Sends a request of type for path (a2; "connect": connects to server
// anew) and returns its reply text, "<none>" without one.
std::string ask(int type, const char *path, const std::string &server) {
  if (strcmp(path, "connect") == 0)
    return std::to_string(vornal_connect(server.c_str()));
  vornal_message *m =
      vornal_send_message(type, nullptr, path, nullptr, nullptr, nullptr);
  char *text = m ? vornal_get_message_reply(m) : nullptr;
  std::string r = text ? text : "<none>";
  free(text);
  vornal_message_free(m);
  return r;
}

// Returns true once the connection state is want, within 10 s.
bool reaches(int want) {
  return eventually([&] { return vornal_get_connection_state() == want; },
                    10000);
}

// Leaves the library disconnected and with its default time-out.
class Vornal : public ::testing::Test {
 protected:
  void TearDown() override {
    vornal_disconnect();
    unsetenv("VORNAL_TIMEOUT_MS");
  }
};

TEST(Frame, TakesABodyAtTheLimitAndRefusesBadOnes) {
  std::string frame = wire::encode(wire::Reply{3, "abc", "OK"});
  std::string body = frame.substr(wire::kLengthSize), long_text = body;
  long_text[6] = 0x7F;  // a text length that runs past the body
  wire::Frame f;
  for (const std::string &bad : {body + "!", long_text})
    EXPECT_EQ(wire::decode_body(bad, f), wire::DecodeStatus::bad) << bad;
  wire::FrameReader reader;
  reader.set_limit(body.size());
  reader.feed(frame);
  EXPECT_EQ(reader.next(f), wire::DecodeStatus::ok);
  EXPECT_EQ(wire::decode_hello(wire::encode_hello(9)), 9);
  EXPECT_FALSE(wire::decode_hello(std::string("VORX\0\1\0\0", 8)));
}

// Texts past a socket buffer come back whole; too big a frame stays here.
TEST_F(Vornal, BigTextsRoundTripAndOversizedOnesStayLocal) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path.c_str()), VORNAL_STATE_CONNECTED);
  std::string big = std::string(400000, 'x') + std::string(300000, '\n');
  EXPECT_EQ(call(big.c_str()), big);
  EXPECT_FALSE(call(std::string(wire::kMaxFrame, 'y').c_str()));
  EXPECT_EQ(call("a"), "a");
  EXPECT_EQ(s.requests, 2u);
}

// Descriptions that came with a listing answer only the description
// requests that follow it in listing order; the stand-in's echo of the
// path shows what went to the wire instead.
TEST_F(Vornal, KeptDescriptionsAnswerOnlyTheRequestsThatFollowInOrder) {
  Server s;
  ASSERT_EQ(vornal_connect(s.path.c_str()), VORNAL_STATE_CONNECTED);
  // clang-format off
  struct { const char *name; std::vector<const char *> asks, want; } rows[] = {
    {"in order", {"/a", "/b", "/c", "/a"}, {"kept /a", "kept /b", "kept /c", "/a"}},
    {"one skipped", {"/a", "/c", "/b"}, {"kept /a", "/c", "/b"}},
    {"a get between", {"/a", "get", "/b"}, {"kept /a", "get", "/b"}},
    {"a new connection", {"connect", "/a"}, {"5", "/a"}},
  };
  // clang-format on
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ask(VORNAL_MSG_LIST, "/", s.path), "a\nb\nc");
    for (size_t i = 0; i < row.asks.size(); ++i) {
      bool get = strcmp(row.asks[i], "get") == 0;
      EXPECT_EQ(
          ask(get ? VORNAL_MSG_GET : VORNAL_MSG_DESCRIBE, row.asks[i], s.path),
          row.want[i]);
    }
  }
}

TEST_F(Vornal, ConnectFailuresHaveTheirCodes) {
  setenv("VORNAL_TIMEOUT_MS", "200", 1);
  std::pair<int, int> rows[] = {{wire::kVersion + 1, VORNAL_ERR_PROTOCOL},
                                {-1, VORNAL_ERR_PROTOCOL},
                                {-2, VORNAL_ERR_TIMEOUT}};
  for (auto [hello, code] : rows) {
    Server s(hello);
    EXPECT_EQ(vornal_connect(s.path.c_str()), code) << hello;
  }
}

// How each failure ends the connection: its state, the reason the trace
// gives (never a time-out where the daemon spoke), the requests that went.
TEST_F(Vornal, FailuresEndTheConnectionInTheirState) {
  // clang-format off
  struct { const char *name; bool keep_alive; int state; const char *why; size_t sent;
           std::function<void(Server &)> act; } rows[] = {
    {"silent", false, VORNAL_STATE_LOST, "no reply to #", 1,
     [](Server &s) { s.answer_requests = false; }},
    // An unread notice, then a write that fails: the notice still wins.
    {"session ended", false, VORNAL_STATE_ENDED, "", 0,
     [](Server &s) { s.notice = 1, usleep(200000); }},
    {"no-ops late", true, VORNAL_STATE_CONNECTED, "hung", 1,
     [](Server &s) { s.noop_delay_ms = 1700; }},
  };
  // clang-format on
  for (auto &row : rows) {
    SCOPED_TRACE(row.name);
    setenv("VORNAL_TIMEOUT_MS", row.keep_alive ? "30000" : "1000", 1);
    Server s;
    ASSERT_EQ(vornal_connect(s.path.c_str()), VORNAL_STATE_CONNECTED);
    testing::internal::CaptureStderr();
    vornal_set_connection_debugging(1);
    row.act(s);
    if (row.keep_alive) {  // hung, yet requests go through
      vornal_set_keep_alive(1, 0);
      EXPECT_TRUE(reaches(VORNAL_STATE_HUNG));
      EXPECT_EQ(call("while hung"), "while hung");
    } else {
      EXPECT_FALSE(call("x"));
    }
    EXPECT_TRUE(reaches(row.state));
    EXPECT_EQ(call("y").has_value(), row.state == VORNAL_STATE_CONNECTED);
    vornal_set_keep_alive(0, 0);
    vornal_set_connection_debugging(0);
    std::string trace = testing::internal::GetCapturedStderr();
    EXPECT_NE(trace.find(row.why), std::string::npos) << trace;
    EXPECT_EQ(s.requests, row.sent + (row.state == VORNAL_STATE_CONNECTED));
    EXPECT_TRUE(row.state != VORNAL_STATE_LOST ||
                eventually([&] { return s.peer_closed == 1; }, 10000))
        << "lost: the connection is closed, not only marked";
    vornal_disconnect();
  }
}

}  // namespace
