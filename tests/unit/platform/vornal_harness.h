// For the library tests: a scriptable daemon stand-in that speaks the wire
// on a Unix socket in a private temporary folder, from its own thread, and
// can be told to go silent, close, send a notice or greet with another
// version; and request helpers on the library's side.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
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

using Clock = std::chrono::steady_clock;

inline void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Returns the milliseconds since start.
inline long ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

// Writes all of data to fd; returns false on error.
inline bool write_all(int fd, const std::string &data) {
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
inline wire::Text take(char *s) {
  wire::Text copy = s ? wire::Text(s) : std::nullopt;
  free(s);
  return copy;
}

// Sends one request and returns copies of what came back.
inline Result call(int type, const char *a1, const char *a2, const char *a3,
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
inline long wait_state(int want, long max_ms) {
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

}  // namespace vtest
