// The event loop: one thread waiting on the listening sockets and every
// connection, speaking the wire protocol and owning the one session.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vornd/auth.h"
#include "vornd/handlers.h"
#include "wire/frame.h"

namespace vornd {

class Server {
 public:
  // users is null when no users file was given (TCP logins all fail).
  Server(Core &core, const Users *users) : core_(core), users_(users) {}
  ~Server();
  Server(const Server &) = delete;
  Server &operator=(const Server &) = delete;

  // Each returns "" or why the socket could not be opened.
  std::string listen_unix(const std::string &path);
  std::string listen_tcp(const std::string &host_port);
  // Serves until SIGTERM or SIGINT; returns the exit status.
  int run();

 private:
  struct Conn {
    int fd = -1;
    Peer peer;
    std::string hello;  // greeting bytes received so far
    bool greeted = false;
    bool closing = false;       // close once out is flushed
    bool watching_out = false;  // registered for writability
    wire::FrameReader reader;
    std::string out;
    std::optional<Session> session;
  };
  void accept_on(int listener, bool local);
  void read_from(Conn &c);
  bool take_hello(Conn &c, std::string_view &bytes);
  void serve(Conn &c, const wire::Request &q);
  std::string login(Conn &c, const wire::Request &q);
  void drop_session(Conn &c, const char *why);
  void send(Conn &c, const std::string &bytes);
  void flush(Conn &c);
  void close_conn(Conn &c, const char *why);
  bool watch(int fd, uint32_t events, uint64_t tag, int op);
  void watch_out(Conn &c);
  void dispatch(uint64_t tag, uint32_t events);
  void shutdown();

  Core &core_;
  const Users *users_;
  std::vector<int> listeners_;
  std::vector<bool> listener_local_;
  std::string socket_path_;
  std::vector<std::unique_ptr<Conn>> conns_;
  Conn *holder_ = nullptr;  // connection of the logged-in session
  int epoll_fd_ = -1;
};

}  // namespace vornd
