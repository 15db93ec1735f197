// Support for the end-to-end tests: the build's programs run to their end
// or on a pseudo-terminal, a real vornd on a private socket, and a client
// that speaks the wire by hand. Failures to start fail the running test.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wire/frame.h"

namespace e2e {

using Args = std::vector<std::string>;

// Returns the path of a program in the build's bin folder (argv[0] as is
// when it holds a "/"); a missing program fails the running test.
std::string bin_path(const std::string &program);
// Returns the name of the user running the tests, whose logins the daemon
// accepts on its socket; is_root tells whether they may act as others.
std::string user();
bool is_root();
// Returns a TCP port on 127.0.0.1 that was free a moment ago.
int free_port();
// Returns text with every "\r\n" turned into "\n" (terminal output).
std::string without_cr(std::string text);
// Returns true once ok() holds, asking every 10 ms for up to timeout_ms.
bool eventually(const std::function<bool()> &ok, int timeout_ms = 5000);
// Return whether a wait status is an exit with code / a death by sig.
bool exited_with(int wait_status, int code);
bool killed_by(int wait_status, int sig);

// A private folder, removed with everything in it at the end.
struct TempDir {
  TempDir();
  ~TempDir();
  std::string path;
};

struct RunResult {
  std::string out, err;
  int wait_status = -1;  // as from waitpid; -1 when it could not run
  bool timed_out = false;
  int exit_code() const;  // -1 when the program did not exit normally
};

// Runs bin_path(argv[0]) to its end with input as standard input, env
// ("NAME=value") on top of the test's environment without CLI_USER,
// CLI_PASSWORD and CLI_SERVER, as user and group uid when set (from a copy
// that uid can reach, also when the build is in a private folder); kills it
// after timeout_ms.
RunResult run(const Args &argv, const std::string &input = "",
              const Args &env = {}, uid_t uid = (uid_t)-1,
              int timeout_ms = 30000);

class Daemon {
 public:
  // Starts vornd with --socket <dir>/vornd.sock plus extra and waits until
  // it accepts connections.
  explicit Daemon(Args extra = {});
  ~Daemon();

  const std::string &socket() const { return socket_; }
  const std::string &dir() const { return dir_.path; }
  pid_t pid() const { return pid_; }
  std::string log() const;  // what it wrote to stderr so far
  // Sends sig and, for SIGTERM/SIGKILL/SIGINT, returns the wait status of
  // the exit; otherwise -1.
  int signal(int sig);
  // Starts the daemon again, with the same arguments or with extra.
  void restart(std::optional<Args> extra = {});

 private:
  void start();
  Args extra_;
  TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

// A program on a new terminal, as its controlling terminal and standard
// streams; the test types keys and reads the screen.
class Pty {
 public:
  // Starts bin_path(argv[0]) with env as for run(); with input >= 0 its
  // standard input is that descriptor instead of the terminal.
  explicit Pty(const Args &argv, const Args &env = {}, int input = -1);
  ~Pty();

  void send(const std::string &keys);
  // Closes the terminal's other side, as a window that goes away does.
  void hang_up();
  // Returns 1 when something was read within timeout_ms, 0 when nothing
  // came, -1 at the end of the output.
  int read_some(int timeout_ms);
  // Reads until text appears after the previous match; false when it does
  // not within 10 s.
  bool expect(const std::string &text);
  // Reads the rest and waits for the end. Returns the wait status, or -1
  // when the program did not end within timeout_ms.
  int wait(int timeout_ms = 10000);
  const std::string &output() const { return output_; }  // "\r\n" ends
  int master() const { return master_; }
  pid_t pid() const { return pid_; }

 private:
  int master_ = -1;
  pid_t pid_ = -1;
  std::string output_;
  size_t cursor_ = 0;
};

class RawClient {
 public:
  // Connects to a Unix socket and exchanges greetings unless greet is false.
  explicit RawClient(const std::string &unix_path, bool greet = true);
  ~RawClient();

  // Returns the reply to one request; an empty Reply when the daemon closed
  // or did not answer within 10 s.
  wire::Reply call(uint16_t type, wire::Text a1 = {}, wire::Text a2 = {},
                   wire::Text a3 = {}, wire::Text a4 = {}, wire::Text a5 = {});
  // Returns the status of a request, "<none>" when none came.
  std::string status(uint16_t type, wire::Text a1 = {}, wire::Text a2 = {},
                     wire::Text a3 = {}, wire::Text a4 = {},
                     wire::Text a5 = {});
  // Logs in as user (a login on the Unix socket needs no password).
  std::string login(const std::string &user, bool force = false);
  void send_raw(const std::string &bytes);  // the daemon may have closed
  // Returns true when the daemon closes the connection within timeout_ms.
  bool closed_within(int timeout_ms);

 private:
  // Returns the next frame, or nullopt on close, garbage or time-out.
  std::optional<wire::Frame> next_frame(int timeout_ms = 10000);
  int fd_ = -1;
  uint32_t next_id_ = 1;
  wire::FrameReader reader_;
};

}  // namespace e2e
