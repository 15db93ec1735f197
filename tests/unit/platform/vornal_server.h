// A scriptable daemon stand-in for the library tests: it speaks the wire on
// a Unix socket in a private temporary folder, from its own thread, and can
// be told to go silent, close, send a notice or greet with another version.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
  int connections() const { return connections_; }
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
  std::atomic<int> connections_{0}, peer_closed_{0};
  std::mutex mu_;
  std::vector<wire::Request> requests_;
  std::thread thread_;
};

// Writes all of data to fd; returns false on error.
bool write_all(int fd, const std::string &data);

}  // namespace vtest
