#include "vornd/server.h"

#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "vornd/log.h"

namespace vornd {
namespace {

using std::chrono::milliseconds;

constexpr auto kGreetingTimeout = std::chrono::seconds(5);
// Connections taken from a listener per wake.
constexpr int kAcceptBatch = 32;
// A peer holding no more connections without a login than this keeps them
// when the daemon is full: one is a login under way, two a retry.
constexpr size_t kKeptPerPeer = 2;
// How long a listener rests when no descriptor can be had.
constexpr auto kListenPause = milliseconds(250);
int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
  int saved = errno;
  char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signal_pipe[1], &c, 1);
  errno = saved;
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

// Returns the soft descriptor limit.
long descriptor_limit() {
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY ||
      rl.rlim_cur > LONG_MAX)
    return LONG_MAX;
  return static_cast<long>(rl.rlim_cur);
}

// Fills in who is at the other end of a new connection.
void identify(int fd, bool local, Peer &peer) {
  peer.local = local;
  if (local) {
    ucred cred{};
    socklen_t len = sizeof cred;
    getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len);
    peer.uid = cred.uid;
    peer.origin = peer.address = "local uid " + std::to_string(cred.uid);
    return;
  }
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  char host[NI_MAXHOST] = "?", serv[NI_MAXSERV] = "?";
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&ss), &len) == 0)
    getnameinfo(reinterpret_cast<sockaddr *>(&ss), len, host, sizeof host, serv,
                sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV);
  peer.origin = std::string("tcp ") + host;
  peer.address = peer.origin + ":" + serv;
}

}  // namespace

Server::Server(Core &core, const Users *users, Limits limits)
    : core_(core), users_(users), limits_(limits) {}

Server::~Server() {
  shutdown();
}

void Server::accept_on(size_t listener) {
  // A few at a time: a peer that connects in a tight loop would otherwise
  // fill the listen queue faster than one accept per wake empties it.
  for (int i = 0; i < kAcceptBatch && accept_one(listener); ++i) {
  }
}

bool Server::accept_one(size_t listener) {
  int fd = ::accept4(listeners_[listener], nullptr, nullptr,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    // The listener stays readable: without a free descriptor the loop
    // would wake at once, again and again.
    if ((errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
         errno == ENOMEM) &&
        !evict_one("daemon out of descriptors"))
      pause_listeners(true);
    return false;
  }
  auto c = std::make_unique<Conn>();
  identify(fd, listener_local_[listener], c->peer);
  if (!admit(fd, c->peer.origin)) return true;
  if (listener_tls_[listener]) {
    c->tls = new_session(tls_ctx_.get(), fd);
    if (!c->tls) {
      log_event("connection from %s refused: no TLS session",
                c->peer.address.c_str());
      ::close(fd);
      return true;
    }
    c->handshaking = true;
  }
  c->fd = fd;
  c->since = Clock::now();
  c->deadline = c->since + std::min<Clock::duration>(
                               kGreetingTimeout,
                               std::chrono::seconds(limits_.login_timeout_s));
  c->reader.set_limit(kPreLoginFrame);
  log_event("connection from %s", c->peer.address.c_str());
  if (!watch(fd, EPOLLIN, reinterpret_cast<uintptr_t>(c.get()),
             EPOLL_CTL_ADD)) {
    log_event("epoll_ctl: %s", strerror(errno));
    ::close(fd);
    return false;
  }
  c->events = EPOLLIN;
  ++open_;
  set_waiting(*c, true);
  conns_.push_back(std::move(c));
  return true;
}

// Returns true when the new connection fd of peer origin may stay, after
// making room if needed; closes fd and returns false when no room can be
// made. A peer past its share makes room among its own connections.
bool Server::admit(int fd, const std::string &origin) {
  auto mine = waiting_.find(origin);
  if (mine != waiting_.end() && mine->second >= share()) {
    evict_oldest_of(origin,
                    "connection limit reached: the peer holds its share");
    return true;
  }
  // Spare descriptors keep commits, password lookups and logs working.
  long spare = fd_limit_ >= 32 ? 8 : fd_limit_ / 4;
  bool full = open_ >= static_cast<size_t>(limits_.max_connections) ||
              fd >= fd_limit_ - spare;
  if (!full || evict_one("connection limit reached", &origin)) return true;
  log_event("connection from %s refused: connection limit reached",
            origin.c_str());
  ::close(fd);
  return false;
}

size_t Server::share() const {
  long n = limits_.max_per_peer > 0 ? limits_.max_per_peer
                                    : std::max(1L, limits_.max_connections / 2);
  return static_cast<size_t>(n);
}

// Closes the oldest connection without a login of the peer that holds the
// most of them, the newcomer counted; a peer with one or two keeps them.
bool Server::evict_one(const char *why, const std::string *newcomer) {
  const std::string *most = nullptr;
  size_t most_n = 0;
  for (const auto &[origin, n] : waiting_) {
    size_t held = n + (newcomer && origin == *newcomer ? 1 : 0);
    // On a tie the newcomer's own peer gives way, not another.
    if (held > most_n || (held == most_n && newcomer && origin == *newcomer)) {
      most = &origin;
      most_n = held;
    }
  }
  if (!most || most_n <= kKeptPerPeer) return false;
  evict_oldest_of(std::string(*most), why);
  return true;
}

void Server::evict_oldest_of(const std::string &origin, const char *why) {
  Conn *oldest = nullptr;
  for (auto &c : conns_)
    if (c->waiting && c->peer.origin == origin &&
        (!oldest || c->since < oldest->since))
      oldest = c.get();
  if (oldest) close_conn(*oldest, why);
}

void Server::set_waiting(Conn &c, bool on) {
  if (c.waiting == on) return;
  c.waiting = on;
  if (on) {
    ++waiting_[c.peer.origin];
    return;
  }
  auto it = waiting_.find(c.peer.origin);
  if (it != waiting_.end() && --it->second == 0) waiting_.erase(it);
}

void Server::pause_listeners(bool paused) {
  if (paused == listeners_paused_) return;
  if (paused) {
    log_event("out of descriptors: not accepting for %lld ms",
              static_cast<long long>(kListenPause.count()));
    listen_retry_ = Clock::now() + kListenPause;
  }
  for (size_t i = 0; i < listeners_.size(); ++i)
    watch(listeners_[i], paused ? 0u : uint32_t{EPOLLIN}, i + 1, EPOLL_CTL_MOD);
  listeners_paused_ = paused;
}

bool Server::watch(int fd, uint32_t events, uint64_t tag, int op) {
  epoll_event e{};
  e.events = events;
  e.data.u64 = tag;
  return ::epoll_ctl(epoll_fd_, op, fd, &e) == 0;
}

// Tags of the loop's descriptors: 0 the signal pipe, 1 to n the
// listeners; any other tag is the address of a Conn.
void Server::dispatch(uint64_t tag, uint32_t events) {
  if (tag >= 1 && tag <= listeners_.size()) {
    accept_on(tag - 1);
    return;
  }
  Conn &c = *reinterpret_cast<Conn *>(static_cast<uintptr_t>(tag));
  if (c.fd >= 0 && c.handshaking) shake(c);
  if (c.fd >= 0 && c.handshaking) return settle(c);
  if (c.fd >= 0 && (events & EPOLLOUT)) flush(c);
  if (c.fd >= 0 && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
    // A hang-up stays reported while we do not read: close at once then.
    if (c.events & EPOLLIN)
      read_from(c);
    else if (events & (EPOLLHUP | EPOLLERR))
      close_conn(c, "peer gone");
  }
  settle(c);
}

// Returns milliseconds until the next deadline, or -1 when none is set.
int Server::wait_timeout_ms(Clock::time_point now) {
  std::optional<Clock::time_point> next = brake_due_;
  auto consider = [&](Clock::time_point t) {
    if (!next || t < *next) next = t;
  };
  if (listeners_paused_) consider(listen_retry_);
  for (const auto &c : conns_) {
    if (c->fd < 0) continue;
    if (!c->session || c->closing) consider(c->deadline);
    if (c->parked) consider(c->parked_until);
  }
  if (!next) return -1;
  if (*next <= now) return 0;
  // Rounded up: waking a little early would only spin until the time.
  auto ms = std::chrono::ceil<milliseconds>(*next - now).count();
  return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

void Server::expire(Clock::time_point now) {
  for (size_t i = 0; i < conns_.size(); ++i) {
    Conn &c = *conns_[i];
    if (c.fd >= 0 && c.parked && now >= c.parked_until) {
      wire::Request q = std::move(*c.parked);
      c.parked.reset();
      attempt_login(c, q);
      settle(c);
    }
    if (c.fd >= 0 && (!c.session || c.closing) && now >= c.deadline)
      close_conn(c, c.closing       ? "peer does not read"
                    : c.greeted     ? "no login in time"
                    : c.handshaking ? "no TLS handshake in time"
                                    : "no greeting in time");
  }
  if (listeners_paused_ && now >= listen_retry_) pause_listeners(false);
  if (brake_due_ && now >= *brake_due_) brake_due_ = brake_.tick(now);
}

int Server::run() {
  install_signals();
  fd_limit_ = descriptor_limit();
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
  for (bool stop = false; !stop;) {
    // Closed connections are only dropped here, between batches, so that
    // a later event of the same batch never points at a freed Conn.
    std::erase_if(conns_, [](const auto &c) { return c->fd < 0; });
    int n = ::epoll_wait(epoll_fd_, events, 64, wait_timeout_ms(Clock::now()));
    if (n < 0 && errno != EINTR) {
      log_event("epoll_wait: %s", strerror(errno));
      return 1;
    }
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == 0)
        stop = true;
      else
        dispatch(events[i].data.u64, events[i].events);
    }
    expire(Clock::now());
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
