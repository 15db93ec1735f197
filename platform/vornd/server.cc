#include "vornd/server.h"

#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vornd/log.h"

namespace vornd {
namespace {

constexpr size_t kMaxPending = 8u << 20;  // unread replies before we give up
int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  int saved = errno;
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signal_pipe[1], &c, 1);
  errno = saved;
}

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

void install_signals() {
  if (g_signal_pipe[0] < 0 &&
      ::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    log_event("pipe: %s", strerror(errno));
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

Server::~Server() {
  shutdown();
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
  if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0660) != 0 || ::listen(fd, 64) != 0) {
    std::string err = errno_text(path);
    ::close(fd);
    return err;
  }
  socket_path_ = path;
  listeners_.push_back(fd);
  listener_local_.push_back(true);
  return "";
}

std::string Server::listen_tcp(const std::string &host_port) {
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
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 64) == 0) {
      listeners_.push_back(fd);
      listener_local_.push_back(false);
      err.clear();
      break;
    }
    err = errno_text(host_port);
    ::close(fd);
  }
  freeaddrinfo(res);
  return err;
}

void Server::accept_on(int listener, bool local) {
  int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  auto c = std::make_unique<Conn>();
  c->fd = fd;
  c->peer.local = local;
  if (local) {
    ucred cred{};
    socklen_t len = sizeof cred;
    getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len);
    c->peer.uid = cred.uid;
    c->peer.address = "local uid " + std::to_string(cred.uid);
  } else {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    char host[NI_MAXHOST] = "?", serv[NI_MAXSERV] = "?";
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&ss), &len) == 0)
      getnameinfo(reinterpret_cast<sockaddr *>(&ss), len, host, sizeof host,
                  serv, sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV);
    c->peer.address = std::string("tcp ") + host + ":" + serv;
  }
  log_event("connection from %s", c->peer.address.c_str());
  if (!watch(fd, EPOLLIN, reinterpret_cast<uintptr_t>(c.get()),
             EPOLL_CTL_ADD)) {
    log_event("epoll_ctl: %s", strerror(errno));
    ::close(fd);
    return;
  }
  conns_.push_back(std::move(c));
}

void Server::send(Conn &c, const std::string &bytes) {
  if (c.out.size() + bytes.size() > kMaxPending) {
    close_conn(c, "client does not read its replies");
    return;
  }
  c.out += bytes;
  flush(c);
}

void Server::flush(Conn &c) {
  while (!c.out.empty() && c.fd >= 0) {
    ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0) {
      close_conn(c, "write failed");
      return;
    }
    c.out.erase(0, static_cast<size_t>(n));
  }
  if (c.closing && c.out.empty() && c.fd >= 0)
    close_conn(c, "closed by daemon");
  watch_out(c);
}

bool Server::watch(int fd, uint32_t events, uint64_t tag, int op) {
  epoll_event e{};
  e.events = events;
  e.data.u64 = tag;
  return ::epoll_ctl(epoll_fd_, op, fd, &e) == 0;
}

// Asks for writability only while replies wait to go out, so that an idle
// connection never wakes the loop.
void Server::watch_out(Conn &c) {
  bool want = c.fd >= 0 && !c.out.empty();
  if (want == c.watching_out || c.fd < 0) return;
  uint32_t events = want ? EPOLLIN | EPOLLOUT : EPOLLIN;
  if (watch(c.fd, events, reinterpret_cast<uintptr_t>(&c), EPOLL_CTL_MOD))
    c.watching_out = want;
}

void Server::drop_session(Conn &c, const char *why) {
  if (!c.session) return;
  log_event("session of %s ended (%s), uncommitted changes dropped",
            c.session->user.c_str(), why);
  c.session.reset();
  malloc_trim(0);  // a candidate of a large model is worth returning
  if (holder_ == &c) holder_ = nullptr;
}

void Server::close_conn(Conn &c, const char *why) {
  if (c.fd < 0) return;
  drop_session(c, why);
  log_event("connection from %s closed: %s", c.peer.address.c_str(), why);
  ::close(c.fd);
  c.fd = -1;  // removed from conns_ by the loop
}

bool Server::take_hello(Conn &c, std::string_view &bytes) {
  size_t want = wire::kHelloSize - c.hello.size();
  c.hello.append(bytes.substr(0, want));
  bytes.remove_prefix(std::min(want, bytes.size()));
  if (c.hello.size() < wire::kHelloSize) return true;
  std::optional<uint16_t> v = wire::decode_hello(c.hello);
  if (!v) {
    close_conn(c, "no greeting");
    return false;
  }
  send(c, wire::encode_hello());
  if (*v != wire::kVersion) {
    // Our greeting tells the client which version we speak.
    c.closing = true;
    log_event("%s speaks protocol version %u", c.peer.address.c_str(), *v);
    flush(c);
    return false;
  }
  c.greeted = true;
  return true;
}

void Server::read_from(Conn &c) {
  char buf[65536];
  ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    close_conn(c, n == 0 ? "peer closed" : "read failed");
    return;
  }
  std::string_view bytes(buf, static_cast<size_t>(n));
  if (c.closing) return;  // a closing link reads nothing more
  if (!c.greeted && !take_hello(c, bytes)) return;
  if (!c.greeted) return;
  c.reader.feed(bytes);
  wire::Frame f;
  for (;;) {
    wire::DecodeStatus st = c.reader.next(f);
    if (st == wire::DecodeStatus::need_more) return;
    if (st == wire::DecodeStatus::bad || f.kind != wire::Kind::request) {
      close_conn(c, "malformed or oversized frame");
      return;
    }
    serve(c, f.request);
    if (c.fd < 0 || c.closing) return;
  }
}

std::string Server::login(Conn &c, const wire::Request &q) {
  bool force = q.args[0] && *q.args[0] == "-force";
  std::string user = q.args[3].value_or(""), pw = q.args[4].value_or("");
  if (!authenticate(c.peer, user, pw, users_)) {
    log_event("login of '%s' from %s refused", user.c_str(),
              c.peer.address.c_str());
    return "NO";
  }
  if (holder_ && holder_ != &c) {
    if (!force) {
      log_event("login of '%s' refused: session held by %s", user.c_str(),
                holder_->session->user.c_str());
      return "INUSE";
    }
    Conn &old = *holder_;
    drop_session(old, "forced login elsewhere");
    send(old, wire::encode(
                  wire::Notice{wire::kNoticeSessionEnded, "session ended"}));
    old.closing = true;
    flush(old);
  }
  drop_session(c, "logged in again");
  c.session.emplace(core_.open_session(user));
  holder_ = &c;
  log_event("login of '%s' from %s%s", user.c_str(), c.peer.address.c_str(),
            force ? " (forced)" : "");
  return "OK";
}

void Server::serve(Conn &c, const wire::Request &q) {
  wire::Reply r;
  r.id = q.id;
  if (q.type == kNoop) {
    r.status = "OK";
  } else if (q.type == kLogin) {
    r.status = login(c, q);
  } else if (!c.session) {
    r.status = "ERR Not logged in";
  } else if (q.type == kLogout) {
    drop_session(c, "logout");
    r.status = "OK";
  } else {
    Answer a = core_.handle(*c.session, q);
    r.reply = std::move(a.reply);
    r.status = std::move(a.status);
  }
  send(c, wire::encode(r));
}

// Tags of the loop's descriptors: 0 the signal pipe, 1 to n the
// listeners; any other tag is the address of a Conn.
void Server::dispatch(uint64_t tag, uint32_t events) {
  if (tag >= 1 && tag <= listeners_.size()) {
    accept_on(listeners_[tag - 1], listener_local_[tag - 1]);
    return;
  }
  Conn &c = *reinterpret_cast<Conn *>(static_cast<uintptr_t>(tag));
  if (c.fd >= 0 && (events & EPOLLOUT)) flush(c);
  if (c.fd >= 0 && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) read_from(c);
}

int Server::run() {
  install_signals();
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  bool ok =
      epoll_fd_ >= 0 && watch(g_signal_pipe[0], EPOLLIN, 0, EPOLL_CTL_ADD);
  for (size_t i = 0; ok && i < listeners_.size(); ++i)
    ok = watch(listeners_[i], EPOLLIN, i + 1, EPOLL_CTL_ADD);
  if (!ok) {
    log_event("epoll: %s", strerror(errno));
    return 1;
  }
  log_event("serving on %s", socket_path_.c_str());
  epoll_event events[64];
  for (;;) {
    // Closed connections are only dropped here, between batches, so that
    // a later event of the same batch never points at a freed Conn.
    conns_.erase(std::remove_if(conns_.begin(), conns_.end(),
                                [](const auto &c) { return c->fd < 0; }),
                 conns_.end());
    int n = ::epoll_wait(epoll_fd_, events, 64, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      log_event("epoll_wait: %s", strerror(errno));
      return 1;
    }
    bool stop = false;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == 0)
        stop = true;
      else
        dispatch(events[i].data.u64, events[i].events);
    }
    if (stop) break;
  }
  log_event("signal received, shutting down");
  shutdown();
  return 0;
}

void Server::shutdown() {
  for (auto &c : conns_) close_conn(*c, "daemon shutting down");
  conns_.clear();
  for (int l : listeners_) ::close(l);
  listeners_.clear();
  if (!socket_path_.empty()) ::unlink(socket_path_.c_str());
  socket_path_.clear();
  if (epoll_fd_ >= 0) ::close(epoll_fd_);
  epoll_fd_ = -1;
}

}  // namespace vornd
