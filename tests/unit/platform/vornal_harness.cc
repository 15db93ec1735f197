#include "vornal_harness.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace vtest {

namespace {

wire::Text take(char *s) {
  if (!s) return std::nullopt;
  std::string copy(s);
  free(s);
  return copy;
}

// Writes all of data to fd; returns false on error.
bool write_all(int fd, const std::string &data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n =
        ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Result call(int type, const char *a1, const char *a2, const char *a3,
            const char *a4, const char *a5) {
  Result r;
  vornal_message *m = vornal_send_message(type, a1, a2, a3, a4, a5);
  if (!m) return r;
  r.got = true;
  char *reply = vornal_get_message_reply(m);
  char *status = vornal_get_message_response_status(m);
  vornal_message_free(m);  // the copies outlive the handle
  r.reply = take(reply);
  r.status = take(status);
  return r;
}

long ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

long wait_state(int want, long max_ms) {
  auto start = std::chrono::steady_clock::now();
  while (ms_since(start) <= max_ms) {
    if (vornal_get_connection_state() == want) return ms_since(start);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

Server::Server(int hello_version) : hello_version_(hello_version) {
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

Server::~Server() {
  stop_ = true;
  thread_.join();
  ::close(listen_fd_);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::vector<wire::Request> Server::requests() {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

int Server::noops() {
  int n = 0;
  for (const wire::Request &r : requests()) n += r.type == 0;
  return n;
}

void Server::run() {
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
void Server::serve(int fd) {
  char hello[wire::kHelloSize];
  if (::recv(fd, hello, sizeof hello, MSG_WAITALL) != sizeof hello) return;
  if (hello_version_ == -1) return;
  if (hello_version_ >= 0 &&
      !write_all(fd, wire::encode_hello(static_cast<uint16_t>(hello_version_))))
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
    if (n <= 0) {
      ++peer_closed_;
      return;
    }
    reader.feed(std::string_view(buf, static_cast<size_t>(n)));
    wire::Frame f;
    while (reader.next(f) == wire::DecodeStatus::ok)
      if (f.kind == wire::Kind::request && !handle(fd, f.request)) return;
  }
}

// Records r and answers it as configured: reply = a2, status = a5. Returns
// false when the connection broke.
bool Server::handle(int fd, const wire::Request &r) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(r);
  }
  if (r.type == 0) {
    if (!answer_noops) return true;
    if (int ms = noop_delay_ms)
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return write_all(fd, wire::encode(wire::Reply{r.id, std::nullopt, "OK"}));
  }
  if (!answer_requests) return true;
  if (int ms = reply_delay_ms)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  if (stray_replies &&
      !write_all(fd, wire::encode(wire::Reply{r.id + 1000, "stray", "OK"})))
    return false;
  return write_all(fd, wire::encode(wire::Reply{r.id, r.args[1], r.args[4]}));
}

}  // namespace vtest
