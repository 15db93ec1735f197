// For the library tests: a scriptable daemon stand-in that speaks the wire
// on a Unix socket in a private temporary folder, from its own thread, and
// can be told to go silent, close, send a notice or greet with another
// version; and a fixture and request helpers on the library's side.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vornal.h"
#include "wire/frame.h"

namespace vtest {

class Server {
 public:
  // hello_version is what the server greets with; -1 closes without one,
  // -2 never greets.
  explicit Server(int hello_version = wire::kVersion);
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  const std::string &path() const { return path_; }

  // Behaviour switches, read by the server thread on every frame.
  std::atomic<bool> answer_requests{true};
  std::atomic<bool> answer_noops{true};
  std::atomic<int> reply_delay_ms{0};
  std::atomic<int> noop_delay_ms{0};
  // Sends a reply with an unknown id before each real reply.
  std::atomic<bool> stray_replies{false};

  // Asks the thread to close the current connection / send a notice.
  void close_connection() { close_req_ = true; }
  void send_notice(uint32_t code) { notice_req_ = code; }

  // Every request received so far (no-ops included), and counts.
  std::vector<wire::Request> requests();
  int noops();
  int closed_by_peer() const { return peer_closed_; }

 private:
  void run();
  void serve(int fd);
  bool handle(int fd, const wire::Request &r);

  int hello_version_;
  std::string dir_, path_;
  int listen_fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> close_req_{false};
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

// Sends one request and returns copies of what came back.
Result call(int type, const char *a1, const char *a2, const char *a3,
            const char *a4, const char *a5);

// Polls the state until it equals want. Returns the milliseconds waited, or
// -1 when max_ms passed first.
long wait_state(int want, long max_ms);

// Returns the milliseconds since start.
long ms_since(std::chrono::steady_clock::time_point start);

// Leaves the library disconnected, quiet and with its default time-out.
class Client : public ::testing::Test {
 protected:
  void TearDown() override {
    vornal_disconnect();
    vornal_set_connection_debugging(0);
    unsetenv("VORNAL_TIMEOUT_MS");
  }
};

}  // namespace vtest
