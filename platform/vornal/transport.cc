#include "transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "tls.h"
#include "vornal.h"
#include "waiting.h"

namespace vornal {
namespace {

// Maps a failed connect's errno to a vornal_connect error code.
int code_for_errno(int e) {
  switch (e) {
    case ENOENT:
    case ECONNREFUSED:
    case ECONNRESET:
    case ENOTSOCK:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EADDRNOTAVAIL:
      return VORNAL_ERR_UNAVAILABLE;
    case EACCES:
    case EPERM:
      return VORNAL_ERR_NOPERM;
    case ETIMEDOUT:
      return VORNAL_ERR_TIMEOUT;
    default:
      return VORNAL_ERR_OSERR;
  }
}

// Finishes a non-blocking connect. Returns 0 or an errno value.
int finish_connect(int fd, Deadline deadline) {
  int ev = wait_for(fd, POLLOUT, deadline);
  if (ev == 0) return ETIMEDOUT;
  if (ev < 0) return errno;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// Connects fd to addr before deadline. Returns 0 or an errno value.
int connect_until(int fd, const sockaddr *addr, socklen_t len,
                  Deadline deadline) {
  for (;;) {
    if (::connect(fd, addr, len) == 0) return 0;
    if (errno == EINPROGRESS || errno == EINTR)
      return finish_connect(fd, deadline);
    // A full Unix listen queue answers EAGAIN: try again until the deadline.
    if (errno != EAGAIN) return errno;
    if (ms_left(deadline) == 0) return ETIMEDOUT;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Opens the Unix socket at path.
int open_unix(std::string_view path, Deadline deadline, Fd &out) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return VORNAL_ERR_OSERR;
  memcpy(addr.sun_path, path.data(), path.size());
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return VORNAL_ERR_OSERR;
  int err = connect_until(fd.get(), reinterpret_cast<sockaddr *>(&addr),
                          sizeof addr, deadline);
  if (err != 0) return code_for_errno(err);
  out = std::move(fd);
  return 0;
}

// Tries one resolved TCP address. Returns 0 or an errno value.
int try_address(const addrinfo *ai, Deadline deadline, Fd &out) {
  Fd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                 ai->ai_protocol));
  if (!fd.valid()) return errno;
  int err = connect_until(fd.get(), ai->ai_addr, ai->ai_addrlen, deadline);
  if (err != 0) return err;
  int one = 1;  // requests are small and latency-bound
  setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  out = std::move(fd);
  return 0;
}

// Returns true when plain TCP was asked for and addr is a loopback one,
// whose traffic never leaves the host: tests, and a local bench.
bool plain_allowed(const sockaddr *addr) {
  const char *env = getenv("VORNAL_PLAIN_TCP");
  if (!env || strcmp(env, "1") != 0) return false;
  if (addr->sa_family == AF_INET)
    return ntohl(
               reinterpret_cast<const sockaddr_in *>(addr)->sin_addr.s_addr) >>
               24 ==
           127;
  return addr->sa_family == AF_INET6 &&
         IN6_IS_ADDR_LOOPBACK(
             &reinterpret_cast<const sockaddr_in6 *>(addr)->sin6_addr);
}

// Resolves host[:port], connects to the first address that answers and
// makes the TLS handshake there.
int open_tcp(std::string_view server, Deadline deadline, Fd &out) {
  HostPort hp;
  if (!split_host_port(server, hp)) return VORNAL_ERR_NOHOST;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo *res = nullptr;
  int gai = getaddrinfo(hp.host.c_str(), hp.port.c_str(), &hints, &res);
  if (gai == EAI_SYSTEM) return VORNAL_ERR_OSERR;
  if (gai != 0) return VORNAL_ERR_NOHOST;
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(res, freeaddrinfo);
  int err = ECONNREFUSED;
  for (const addrinfo *ai = res; ai; ai = ai->ai_next) {
    err = try_address(ai, deadline, out);
    if (err == 0 && plain_allowed(ai->ai_addr)) return 0;
    if (err == 0) {
      std::unique_ptr<TlsLink> tls;
      int code = TlsLink::open(out.get(), hp.host, deadline, tls);
      if (code == 0) out.set_tls(std::move(tls));
      return code;
    }
    if (err == ETIMEDOUT) break;
  }
  return code_for_errno(err);
}

}  // namespace

int wait_for(int fd, short events, Deadline deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, std::min(ms_left(deadline), kWaitSliceMs));
    if (n > 0) return p.revents;
    if (n < 0 && errno != EINTR) return -1;
    if (n == 0 && ms_left(deadline) == 0) return 0;
    wait_slice_passed();
  }
}

Fd::Fd() = default;

Fd::Fd(int fd) : fd_(fd) {}

Fd::Fd(Fd &&o) noexcept
    : fd_(std::exchange(o.fd_, -1)), tls_(std::move(o.tls_)) {}

Fd &Fd::operator=(Fd &&o) noexcept {
  if (this != &o) {
    tls_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(o.fd_, -1);
    tls_ = std::move(o.tls_);
  }
  return *this;
}

void Fd::set_tls(std::unique_ptr<TlsLink> tls) {
  tls_ = std::move(tls);
}

Fd::~Fd() {
  tls_.reset();
  if (fd_ >= 0) ::close(fd_);
}

bool split_host_port(std::string_view server, HostPort &out) {
  std::string_view host = server, port;
  if (server.starts_with('[')) {
    size_t close = server.find(']');
    if (close == std::string_view::npos) return false;
    host = server.substr(1, close - 1);
    std::string_view rest = server.substr(close + 1);
    if (!rest.empty() && (rest[0] != ':' || rest.size() == 1)) return false;
    if (!rest.empty()) port = rest.substr(1);
  } else if (size_t colon = server.find(':');
             colon != std::string_view::npos &&
             server.find(':', colon + 1) == std::string_view::npos) {
    host = server.substr(0, colon);  // one colon: host:port
    port = server.substr(colon + 1);
    if (port.empty()) return false;
  }  // several colons without brackets: a bare IPv6 address
  if (host.empty()) return false;
  unsigned value = VORNAL_DEFAULT_PORT;
  if (!port.empty()) {
    auto [end, ec] = std::from_chars(port.begin(), port.end(), value);
    if (ec != std::errc() || end != port.end() || value == 0 || value > 65535)
      return false;
  }
  out.host = std::string(host);
  out.port = std::to_string(value);
  return true;
}

int open_transport(std::string_view server, Deadline deadline, Fd &fd) {
  if (server.starts_with('/')) return open_unix(server, deadline, fd);
  return open_tcp(server, deadline, fd);
}

int ms_left(Deadline deadline) {
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > 0x7FFFFFFF ? 0x7FFFFFFF
                                   : static_cast<int>(left.count());
}

int send_all(const Fd &f, std::string_view data, Deadline deadline) {
  int fd = f.get();
  TlsLink *tls = f.tls();
  while (!data.empty() || (tls && tls->unsent())) {
    ssize_t n =
        tls ? tls->write(data.data(), data.size())
            : ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) data.remove_prefix(static_cast<size_t>(n));
    if (n < 0 && tls) return errno ? errno : EPIPE;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    if (n >= 0 && (!tls || !tls->unsent())) continue;
    int ev = wait_for(fd, POLLOUT, deadline);
    if (ev == 0) return ETIMEDOUT;
    if (ev < 0) return errno;
  }
  return 0;
}

int wait_readable(const Fd &f, Deadline deadline) {
  if (f.tls() && f.tls()->pending()) return 1;
  int ev = wait_for(f.get(), POLLIN, deadline);
  return ev > 0 ? 1 : ev;
}

long read_some(const Fd &f, char *buf, size_t size, bool wait) {
  if (f.tls()) return f.tls()->read(buf, size, wait);
  int fd = f.get();
  for (;;) {
    ssize_t n = ::recv(fd, buf, size, wait ? 0 : MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    // A waiting caller returns to its loop, which gives the hook its turn.
    if (errno == EINTR && !wait) continue;
    if (errno == EINTR) return -2;
    return errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
  }
}

int make_blocking(const Fd &f, int slice_ms) {
  int fd = f.get();
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  timeval tv{slice_ms / 1000, (slice_ms % 1000) * 1000};
  if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
    return errno;
  return 0;
}

}  // namespace vornal
