// Starts a real vornd from the build on a socket in a private temporary
// folder, and stops it when the object goes away.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

// Returns the path of a program in the build's bin folder; a missing
// program fails the running test.
std::string bin_path(const std::string &program);

// Returns a TCP port on 127.0.0.1 that was free a moment ago.
int free_port();

class Daemon {
 public:
  // Starts vornd with --socket <dir>/vornd.sock plus extra arguments and
  // waits until it accepts connections. Fails the test when it does not.
  explicit Daemon(std::vector<std::string> extra = {});
  ~Daemon();
  Daemon(const Daemon &) = delete;
  Daemon &operator=(const Daemon &) = delete;

  const std::string &socket() const { return socket_; }
  const std::string &dir() const { return dir_; }
  pid_t pid() const { return pid_; }
  // Everything the daemon wrote to stderr so far.
  std::string log() const;

  // Sends sig and, for SIGTERM/SIGKILL/SIGINT, waits for the exit. Returns
  // the wait status, or -1 when it was not waited for.
  int signal(int sig);
  // Starts the daemon again with the same arguments (after signal()).
  void restart();

 private:
  void start();
  std::vector<std::string> extra_;
  std::string dir_, socket_, log_path_;
  pid_t pid_ = -1;
};

}  // namespace e2e
