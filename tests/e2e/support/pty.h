// Drives a program on a pseudo-terminal: it gets the terminal as its
// controlling terminal and standard streams, the test types keys and reads
// what appears on the screen.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

class Pty {
 public:
  // Starts program (argv[0] included in argv) on a new terminal; env as
  // for run(). A failed start fails the running test.
  Pty(const std::string &program, const std::vector<std::string> &argv,
      const std::vector<std::string> &env = {});
  ~Pty();
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  // Types keys. Returns false when they could not be written.
  bool send(const std::string &keys);
  // Reads until text appears after the previous match. Returns false (and
  // keeps what was read) when it does not within timeout_ms.
  bool expect(const std::string &text, int timeout_ms = 10000);
  // Reads the rest of the output and waits for the end. Returns the wait
  // status, or -1 when the program did not end within timeout_ms.
  int wait(int timeout_ms = 10000);
  // Everything read so far, as the terminal sent it ("\r\n" line ends).
  const std::string &output() const { return output_; }
  // The master side, for looking at the terminal's settings.
  int master() const { return master_; }

 private:
  // Reads what is available within timeout_ms. Returns 1 when something was
  // read, 0 when nothing came, -1 at the end of the output.
  int read_some(int timeout_ms);
  int master_ = -1;
  pid_t pid_ = -1;
  std::string output_;
  size_t cursor_ = 0;
  bool ended_ = false;
};

}  // namespace e2e
