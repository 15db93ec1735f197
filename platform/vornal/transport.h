// Stream sockets to the daemon: opening by server text, bounded reads and
// writes. Every wait has a deadline; EINTR is retried, SIGPIPE never raised.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace vornal {

class TlsLink;
using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

// Owns one file descriptor, and over TCP the TLS session on it; closes it
// on destruction.
class Fd {
 public:
  Fd();
  explicit Fd(int fd);
  Fd(Fd &&o) noexcept;
  Fd &operator=(Fd &&o) noexcept;
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd();
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  TlsLink *tls() const { return tls_.get(); }  // null: plain bytes
  void set_tls(std::unique_ptr<TlsLink> tls);

 private:
  int fd_ = -1;
  std::unique_ptr<TlsLink> tls_;
};

// A host and port split out of a "host[:port]" or "[v6]:port" text.
struct HostPort {
  std::string host;
  std::string port;
};

// Returns false when the text names no host or a port that is not 1-65535.
bool split_host_port(std::string_view server, HostPort &out);

// Opens a non-blocking stream socket to server ("/path" for a Unix socket,
// else host[:port] over TCP, with TLS but for VORNAL_PLAIN_TCP=1 to a
// loopback address) before deadline. Returns 0 and fills fd, or a
// vornal_connect error code.
int open_transport(std::string_view server, Deadline deadline, Fd &fd);

// Returns the milliseconds left until deadline, 0 when it has passed.
int ms_left(Deadline deadline);

// Waits for events on fd until deadline in slices, giving the caller's wait
// hook its turn after each slice and each signal. Returns poll's revents, 0
// when the deadline passed, -1 error.
int wait_for(int fd, short events, Deadline deadline);

// Writes all of data before deadline, never blocking in the write itself.
// Returns 0, or an errno value (ETIMEDOUT when the deadline passed).
int send_all(const Fd &fd, std::string_view data, Deadline deadline);

// Waits until fd is readable or deadline. Returns 1 readable, 0 deadline
// passed, -1 error.
int wait_readable(const Fd &fd, Deadline deadline);

// Reads into buf; with wait, blocks up to the socket's receive slice.
// Returns the byte count, 0 at end of stream, -1 on error, -2 when nothing
// is available yet (or the slice passed, or a signal came while waiting).
long read_some(const Fd &fd, char *buf, size_t size, bool wait = false);
// Makes fd blocking with a receive time-out of slice_ms. Writes stay
// non-blocking per call. Returns 0 or an errno value.
int make_blocking(const Fd &fd, int slice_ms);

}  // namespace vornal
