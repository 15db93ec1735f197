// Opening the listening sockets, and the TLS handshake of what they take.
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vornd/server.h"

namespace vornd {
namespace {

constexpr mode_t kSocketMode = 0660;
constexpr int kListenQueue = 1024;

std::string errno_text(const std::string &what) {
  return what + ": " + strerror(errno);
}

// Returns true when a daemon accepts connections on the socket at path.
bool answers(const std::string &path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  bool ok =
      ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// Binds fd to path so that the file is born with kSocketMode: with the
// umask's mode it would be reachable by others until a later chmod.
bool bind_with_mode(int fd, const sockaddr_un &addr) {
  mode_t old = ::umask(0777 & ~kSocketMode);
  int rc = ::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
  int saved = errno;
  ::umask(old);
  errno = saved;
  return rc == 0;
}

// Returns true for 127.0.0.0/8 and ::1, whose traffic never leaves the host.
bool loopback(const sockaddr *sa) {
  if (sa->sa_family == AF_INET)
    return ntohl(reinterpret_cast<const sockaddr_in *>(sa)->sin_addr.s_addr) >>
               24 ==
           127;
  return sa->sa_family == AF_INET6 &&
         IN6_IS_ADDR_LOOPBACK(
             &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr);
}

}  // namespace

bool Server::add_listener(int fd, bool local, bool tls) {
  // Deep enough that a burst of connections does not make the kernel drop
  // other peers' TCP handshakes (retried only after a second), shallow
  // enough that a login queued behind a tight loop's connections is taken
  // within a fraction of a second.
  if (::listen(fd, kListenQueue) != 0) return false;
  listeners_.push_back(fd);
  listener_local_.push_back(local);
  listener_tls_.push_back(tls);
  return true;
}

std::string Server::use_tls(const std::string &cert, const std::string &key) {
  std::string error;
  tls_ctx_ = make_server_context(cert, key, error);
  return error;
}

// A peer in the handshake is a connection without a login like any other:
// its deadline, share and eviction apply. The handshake never blocks the
// loop: each step takes what the socket has and says what it waits for.
void Server::shake(Conn &c) {
  std::string why;
  int rc = handshake_step(c.tls.get(), c.shake_writes, why);
  if (rc > 0) c.handshaking = false;
  if (rc < 0) close_conn(c, ("TLS handshake failed: " + why).c_str());
}

std::string Server::listen_unix(const std::string &path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) return path + ": path too long";
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return path + ": exists and is not a socket";
    if (answers(path)) return path + ": another daemon answers on this socket";
    ::unlink(path.c_str());  // stale: nobody listens any more
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return errno_text("socket");
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (!bind_with_mode(fd, addr) || !add_listener(fd, true)) {
    std::string err = errno_text(path);
    ::close(fd);
    return err;
  }
  socket_path_ = path;
  return "";
}

std::string Server::listen_tcp(const std::string &host_port, bool plain) {
  if (!plain && !tls_ctx_) return host_port + ": no TLS key and certificate";
  size_t colon = host_port.rfind(':');
  if (colon == std::string::npos) return host_port + ": expected HOST:PORT";
  std::string host = host_port.substr(0, colon),
              port = host_port.substr(colon + 1);
  if (host.size() > 1 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  addrinfo hints{}, *res = nullptr;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  int rc = getaddrinfo(host.empty() || host == "*" ? nullptr : host.c_str(),
                       port.c_str(), &hints, &res);
  if (rc != 0) return host_port + ": " + gai_strerror(rc);
  std::string err = host_port + ": no usable address";
  for (addrinfo *ai = res; ai; ai = ai->ai_next) {
    int fd =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                 ai->ai_protocol);
    if (fd < 0) continue;
    if (plain && !loopback(ai->ai_addr)) {
      err = host_port + ": plain TCP is served on 127.0.0.1 and ::1 only";
      ::close(fd);
      break;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 &&
        add_listener(fd, false, !plain)) {
      err.clear();
      break;
    }
    err = errno_text(host_port);
    ::close(fd);
  }
  freeaddrinfo(res);
  return err;
}

}  // namespace vornd
