// One connection: greeting, frames, requests, login and replies.
#include <malloc.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vornd/log.h"
#include "vornd/server.h"
#include "wire/bulk.h"

namespace vornd {
namespace {

// How long a connection being closed may take to read its last bytes.
constexpr auto kLinger = std::chrono::seconds(5);

}  // namespace

bool Server::reading(const Conn &c) {
  return c.fd >= 0 && !c.closing && !c.parked && !c.bulk &&
         c.out.size() <= kOutHigh;
}

void Server::read_from(Conn &c) {
  if (!reading(c)) return;
  char buf[65536];
  // Before a login a peer gets no more than a small frame's worth per read.
  size_t want = c.session ? sizeof buf : kPreLoginFrame;
  long n = conn_read(c.fd, c.tls.get(), buf, want);
  c.starved = n == -2;
  if (n == -2) return;
  if (n <= 0) {
    close_conn(c, n == 0 ? "peer closed" : "read failed");
    return;
  }
  std::string_view bytes(buf, static_cast<size_t>(n));
  if (!c.greeted && !take_hello(c, bytes)) return;
  if (!c.greeted) return;
  c.reader.feed(bytes);
  count_input(c);
}

// Serves the whole frames already received, as long as the connection
// takes requests (its replies are read, no login waits out a delay).
void Server::pump(Conn &c) {
  wire::Frame f;
  while (reading(c)) {
    wire::DecodeStatus st = c.reader.next(f);
    if (st == wire::DecodeStatus::need_more) break;
    if (st == wire::DecodeStatus::bad || f.kind != wire::Kind::request) {
      close_conn(c, c.session ? "malformed or oversized frame"
                              : "malformed or oversized frame before login");
      return;
    }
    serve(c, f.request);
  }
  count_input(c);
}

// Keeps held_input_ in step with c's unparsed input while c has no login,
// and closes c when all such input together passes its bound.
void Server::count_input(Conn &c) {
  size_t now = c.fd >= 0 && !c.session ? c.reader.buffered() : 0;
  held_input_ = held_input_ - c.held + now;
  c.held = now;
  if (now > 0 && held_input_ > kPreLoginInput)
    close_conn(c, "too much input before login");
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
    log_event("%s speaks protocol version %u", c.peer.address.c_str(), *v);
    finish(c);
    return false;
  }
  c.greeted = true;
  c.deadline = c.since + std::chrono::seconds(limits_.login_timeout_s);
  return true;
}

void Server::serve(Conn &c, const wire::Request &q) {
  if (q.type == kLogin) {
    attempt_login(c, q);
    return;
  }
  wire::Reply r;
  r.id = q.id;
  if (q.type == kNoop) {
    r.status = "OK";
  } else if (!c.session) {
    r.status = "ERR Not logged in";
  } else if (q.type == wire::kListDescribed) {
    serve_bulk(c, q);
    return;
  } else if (q.type == kLogout) {
    drop_session(c, "logout");
    r.status = "OK";
  } else {
    Answer a = core_.handle(*c.session, q);
    r.reply = std::move(a.reply);
    r.status = std::move(a.status);
  }
  answer(c, std::move(r));
}

void Server::serve_bulk(Conn &c, const wire::Request &q) {
  std::string base = q.args[1].value_or("");
  Answer a = do_list(c.session->view(), base);
  std::optional<std::string> listing = a.reply;
  answer(c, wire::Reply{q.id, std::move(a.reply), std::move(a.status)});
  // Nothing listed, nothing to describe: the answer is the listing alone.
  if (listing)
    c.bulk = std::make_unique<BulkAnswer>(q.id, base, std::move(*listing));
}

void Server::feed_bulk(Conn &c) {
  while (c.bulk && c.fd >= 0 && c.out.size() <= kOutHigh) {
    send(c, c.bulk->next_frame(c.session->view()));
    if (c.bulk && c.bulk->done()) c.bulk.reset();
  }
}

void Server::answer(Conn &c, wire::Reply r) {
  std::string frame = wire::encode(r);
  if (frame.size() - wire::kLengthSize > wire::kMaxFrame) {
    frame =
        wire::encode(wire::Reply{r.id, std::nullopt, "ERR Reply too large"});
  }
  send(c, frame);
}

// Checks a login once the waits after earlier failures, of this connection
// and of its peer, are over; until then it is parked and nothing more is
// read from the connection.
void Server::attempt_login(Conn &c, const wire::Request &q) {
  Clock::time_point at = std::max(brake_.next_attempt(c.peer.origin),
                                  c.last_failure + login_delay(c.failures));
  if (Clock::now() < at) {
    c.parked = q;
    c.parked_until = at;
    return;
  }
  answer(c, wire::Reply{q.id, std::nullopt, login(c, q)});
}

std::string Server::login(Conn &c, const wire::Request &q) {
  bool force = q.args[0] && *q.args[0] == "-force";
  std::string user = q.args[3].value_or(""), pw = q.args[4].value_or("");
  Clock::time_point now = Clock::now();
  if (!authenticate(c.peer, user, pw, users_)) {
    ++c.failures;
    c.last_failure = now;
    brake_.failed(c.peer.origin, user, now);
    if (!brake_due_ || now < *brake_due_) brake_due_ = now;
    return "NO";
  }
  brake_.succeeded(c.peer.origin);
  c.failures = 0;
  if (holder_ && holder_ != &c && !force) {
    log_event("login of %s refused: session held by %s", quoted(user).c_str(),
              quoted(holder_->session->user).c_str());
    return "INUSE";
  }
  if (holder_ && holder_ != &c) end_held_session();
  drop_session(c, "logged in again");
  c.session.emplace(core_.open_session(user));
  set_waiting(c, false);
  c.reader.set_limit(wire::kMaxFrame);
  count_input(c);
  holder_ = &c;
  log_event("login of %s from %s%s", quoted(user).c_str(),
            c.peer.address.c_str(), force ? " (forced)" : "");
  return "OK";
}

// Ends the session held elsewhere for a forced login: its changes are
// dropped, it is told, and its connection closes once the notice is out.
void Server::end_held_session() {
  Conn &old = *holder_;
  drop_session(old, "forced login elsewhere");
  send(old,
       wire::encode(wire::Notice{wire::kNoticeSessionEnded, "session ended"}));
  finish(old);
}

void Server::drop_session(Conn &c, const char *why) {
  c.bulk.reset();  // describes the session's tree
  if (!c.session) return;
  core_.keep_unsaved(*c.session, why);
  log_event("session of %s ended (%s), uncommitted changes dropped",
            quoted(c.session->user).c_str(), why);
  c.session.reset();
  malloc_trim(0);  // a candidate of a large model is worth returning
  if (holder_ == &c) holder_ = nullptr;
  c.reader.set_limit(kPreLoginFrame);
  set_waiting(c, c.fd >= 0);
  c.since = Clock::now();
  c.deadline = c.since + std::chrono::seconds(limits_.login_timeout_s);
}

void Server::send(Conn &c, const std::string &bytes) {
  c.out += bytes;
  flush(c);
}

void Server::flush(Conn &c) {
  while (!c.out.empty() && c.fd >= 0) {
    long n = conn_write(c.fd, c.tls.get(), c.out.data(), c.out.size());
    if (n == -2) break;
    if (n < 0) {
      close_conn(c, "write failed");
      return;
    }
    c.out.erase(0, static_cast<size_t>(n));
  }
  if (c.out.empty() && c.out.capacity() > kOutHigh) std::string().swap(c.out);
  if (c.closing && c.out.empty() && c.fd >= 0)
    close_conn(c, "closed by daemon");
}

// Closes c once what it was sent has gone out, or after kLinger.
void Server::finish(Conn &c) {
  c.closing = true;
  c.deadline = std::min(c.deadline, Clock::now() + kLinger);
  flush(c);
  settle(c);
}

// Serves what c has buffered when it may, then watches c for exactly what
// it now waits for: requests while it takes them, room while replies wait.
// TLS may hold input already taken from the socket, of which epoll knows
// nothing: it is read here as soon as the connection takes requests (but
// for a part of a record, which waits for the socket).
void Server::settle(Conn &c) {
  for (;;) {
    // A listing with descriptions stops the pump; its frames go out first.
    for (;;) {
      if (c.bulk) feed_bulk(c);
      if (!reading(c) || c.reader.buffered() == 0) break;
      pump(c);
      if (!c.bulk) break;  // stopped for want of bytes or of room
    }
    if (!reading(c) || !c.tls || c.handshaking || c.starved ||
        !SSL_has_pending(c.tls.get()))
      break;
    read_from(c);
  }
  if (c.fd < 0) return;
  uint32_t want = (reading(c) ? uint32_t{EPOLLIN} : 0u) |
                  (c.out.empty() ? 0u : uint32_t{EPOLLOUT});
  if (c.handshaking) want = c.shake_writes ? EPOLLOUT : EPOLLIN;
  if (want != c.events &&
      watch(c.fd, want, reinterpret_cast<uintptr_t>(&c), EPOLL_CTL_MOD))
    c.events = want;
}

void Server::close_conn(Conn &c, const char *why) {
  if (c.fd < 0) return;
  drop_session(c, why);
  set_waiting(c, false);
  held_input_ -= c.held;
  c.held = 0;
  log_event("connection from %s closed: %s", c.peer.address.c_str(), why);
  if (c.tls && !c.handshaking) SSL_shutdown(c.tls.get());  // tells the peer
  c.tls.reset();
  ::close(c.fd);
  c.fd = -1;  // removed from conns_ by the loop
  --open_;
  if (listeners_paused_) pause_listeners(false);  // a descriptor is free
}

}  // namespace vornd
