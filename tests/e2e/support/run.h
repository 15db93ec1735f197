// Runs a program to its end with given arguments, environment and standard
// input, capturing standard output, standard error and the exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

struct RunRequest {
  std::string program;            // path to execute
  std::vector<std::string> argv;  // argv[0] included
  std::vector<std::string> env;   // "NAME=value" on top of the test's own
  std::string input;              // written to standard input, then closed
  uid_t uid = (uid_t)-1;          // run as this user (and group) when set
  int timeout_ms = 30000;         // killed after this long
};

struct RunResult {
  std::string out, err;
  int wait_status = -1;  // as from waitpid; -1 when it could not run
  bool timed_out = false;
  // The exit code, or -1 when the program did not exit normally.
  int exit_code() const;
  // The signal that ended the program, or 0.
  int signal() const;
};

// Runs request.program. CLI_USER, CLI_PASSWORD and CLI_SERVER are removed from
// the environment before request.env is applied, so each test states its own.
RunResult run(const RunRequest &request);

// Returns text with every "\r\n" turned into "\n" (terminal output).
std::string without_cr(const std::string &text);

// Returns the test's environment without CLI_USER, CLI_PASSWORD and
// CLI_SERVER, with the "NAME=value" entries of extra added or replaced.
std::vector<std::string> child_env(const std::vector<std::string> &extra);

// Returns a null-terminated array of pointers into texts (for exec).
std::vector<char *> c_strings(const std::vector<std::string> &texts);

}  // namespace e2e
