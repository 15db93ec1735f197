#include "support/raw_client.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace e2e {

RawClient::RawClient(const std::string &unix_path, bool greet_now) {
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", unix_path.c_str());
  if (::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    ADD_FAILURE() << "connect " << unix_path << ": " << strerror(errno);
    return;
  }
  if (greet_now) greet();
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

void RawClient::greet() {
  send_raw(wire::encode_hello());
  std::string hello = read_hello();
  EXPECT_EQ(wire::decode_hello(hello), wire::kVersion) << "no greeting";
}

void RawClient::send_raw(const std::string &bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n =
        ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return;  // the daemon may have closed on us; callers check
    off += static_cast<size_t>(n);
  }
}

bool RawClient::fill(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  char buf[65536];
  ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  if (n <= 0) return false;
  reader_.feed(std::string_view(buf, static_cast<size_t>(n)));
  return true;
}

std::string RawClient::read_hello(int timeout_ms) {
  std::string got;
  while (got.size() < wire::kHelloSize) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return "";
    char c;
    if (::recv(fd_, &c, 1, 0) != 1) return "";
    got.push_back(c);
  }
  return got;
}

std::optional<wire::Frame> RawClient::next_frame(int timeout_ms) {
  wire::Frame f;
  for (;;) {
    wire::DecodeStatus st = reader_.next(f);
    if (st == wire::DecodeStatus::ok) return f;
    if (st == wire::DecodeStatus::bad || !fill(timeout_ms)) return std::nullopt;
  }
}

bool RawClient::closed_within(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  while (::poll(&p, 1, timeout_ms) > 0) {
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
  return false;
}

wire::Reply RawClient::call(uint16_t type, wire::Text a1, wire::Text a2,
                            wire::Text a3, wire::Text a4, wire::Text a5) {
  wire::Request q;
  q.id = next_id_++;
  q.type = type;
  q.args = {a1, a2, a3, a4, a5};
  send_raw(wire::encode(q));
  std::optional<wire::Frame> f = next_frame();
  if (!f || f->kind != wire::Kind::reply) return {};
  EXPECT_EQ(f->reply.id, q.id);
  return f->reply;
}

std::string RawClient::status(uint16_t type, wire::Text a1, wire::Text a2,
                              wire::Text a3, wire::Text a4, wire::Text a5) {
  return call(type, a1, a2, a3, a4, a5).status.value_or("<none>");
}

std::string RawClient::login(const std::string &user, bool force) {
  return status(20, force ? "-force" : "", "", "", user, "");
}

}  // namespace e2e
