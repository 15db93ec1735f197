// The event loop: one thread waiting on the listening sockets and every
// connection, speaking the wire protocol and owning the one session. Peers
// that have not logged in get little: a deadline, small frames, a bounded
// share of memory and descriptors, and a growing wait after failed logins.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "vornd/auth.h"
#include "vornd/brake.h"
#include "vornd/bulk.h"
#include "vornd/handlers.h"
#include "vornd/options.h"
#include "vornd/tls.h"
#include "wire/frame.h"

namespace vornd {

class Server {
 public:
  // users is null when no users file was given (TCP logins all fail).
  Server(Core &core, const Users *users, Limits limits = {});
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Each returns "" or why the socket could not be opened or the key and
  // certificate not used. TCP is served over TLS after use_tls, or in
  // plain text (plain: loopback addresses only).
  std::string listen_unix(const std::string &path);
  std::string use_tls(const std::string &cert, const std::string &key);
  std::string listen_tcp(const std::string &host_port, bool plain = false);
  // Serves until SIGTERM or SIGINT; returns the exit status.
  int run();

 private:
  struct Conn {
    int fd = -1;
    SslPtr tls;  // null on the Unix socket and on plain TCP
    bool handshaking = false;
    bool shake_writes = false;  // the handshake waits to write, not read
    bool starved = false;       // the last TLS read wanted more from the socket
    Peer peer;
    std::string hello;  // greeting bytes received so far
    bool greeted = false;
    bool closing = false;  // close once out is flushed
    uint32_t events = 0;   // what epoll watches for it
    wire::FrameReader reader;
    size_t held = 0;  // reader bytes counted in held_input_
    std::string out;
    std::optional<Session> session;
    // Descriptions still to be sent for a listing; no request is read
    // until they are out.
    std::unique_ptr<BulkAnswer> bulk;
    Clock::time_point since;              // connected, or logged out
    Clock::time_point deadline;           // closed then unless logged in
    std::optional<wire::Request> parked;  // a login waiting out its delay
    Clock::time_point parked_until;
    int failures = 0;  // failed logins on this connection
    Clock::time_point last_failure;
    bool waiting = false;  // counted in waiting_: open, without a login
  };
  // A login needs a few hundred bytes: before one, frames stay small.
  static constexpr uint32_t kPreLoginFrame = 4096;
  // Unparsed input of all connections without a login, together.
  static constexpr size_t kPreLoginInput = 256 * 1024;
  // No further request is read while more replies than this wait to go out.
  static constexpr size_t kOutHigh = 64 * 1024;

  // listen.cc: starts listening on fd; false when listen() fails.
  bool add_listener(int fd, bool local, bool tls = false);
  void shake(Conn &c);  // takes the TLS handshake one step further
  // server.cc
  void accept_on(size_t listener);   // takes the waiting connections
  bool accept_one(size_t listener);  // false when none could be taken
  bool admit(int fd, const std::string &origin);
  // Closes a connection without a login to make room for one of newcomer
  // (null: for nobody in particular); false when none may go.
  bool evict_one(const char *why, const std::string *newcomer = nullptr);
  void evict_oldest_of(const std::string &origin, const char *why);
  void set_waiting(Conn &c, bool on);  // keeps waiting_ in step
  size_t share() const;  // connections without a login a peer may hold
  void pause_listeners(bool paused);             // stop or resume accepting
  void dispatch(uint64_t tag, uint32_t events);  // acts on one epoll event
  int wait_timeout_ms(Clock::time_point now);
  void expire(Clock::time_point now);  // acts on deadlines that have passed
  void shutdown();  // closes everything, removes the socket file
  // conn.cc
  void read_from(Conn &c);  // reads what c sent, buffering whole frames
  void pump(Conn &c);
  void count_input(Conn &c);
  // Consumes greeting bytes; false when c was closed for a bad one.
  bool take_hello(Conn &c, std::string_view &bytes);
  // True while c takes requests: open, no parked login, replies read.
  static bool reading(const Conn &c);
  void serve(Conn &c, const wire::Request &q);  // answers one request
  // Answers a listing with descriptions: the listing now, the rest as the
  // client reads it.
  void serve_bulk(Conn &c, const wire::Request &q);
  void feed_bulk(Conn &c);  // queues descriptions while replies are read
  void answer(Conn &c, wire::Reply r);  // sends r, or "too large" instead
  void attempt_login(Conn &c, const wire::Request &q);
  // Decides a login now; returns its status "OK", "INUSE" or "NO".
  std::string login(Conn &c, const wire::Request &q);
  void end_held_session();
  // Ends c's session, if any, dropping its uncommitted changes.
  void drop_session(Conn &c, const char *why);
  void send(Conn &c, const std::string &bytes);  // queues and flushes
  void flush(Conn &c);  // writes what the socket takes now
  void close_conn(Conn &c, const char *why);  // logs why; idempotent
  void finish(Conn &c);
  void settle(Conn &c);
  // Registers or changes fd's epoll events; false on failure.
  bool watch(int fd, uint32_t events, uint64_t tag, int op);

  Core &core_;
  const Users *users_;
  Limits limits_;
  LoginBrake brake_;
  std::optional<Clock::time_point> brake_due_;
  std::vector<int> listeners_;
  std::vector<bool> listener_local_;
  std::vector<bool> listener_tls_;
  SslCtxPtr tls_ctx_;
  bool listeners_paused_ = false;
  Clock::time_point listen_retry_;
  long fd_limit_ = 1024;  // RLIMIT_NOFILE when serving starts
  std::string socket_path_;
  std::vector<std::unique_ptr<Conn>> conns_;
  // Connections without a login per peer origin; a peer missing has none.
  std::unordered_map<std::string, size_t> waiting_;
  size_t open_ = 0;         // connections not yet closed
  size_t held_input_ = 0;   // unparsed input of connections not logged in
  Conn *holder_ = nullptr;  // connection of the logged-in session
  int epoll_fd_ = -1;
};

}  // namespace vornd
