#include "support/pty.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "support/run.h"

namespace e2e {
namespace {

using clock_type = std::chrono::steady_clock;

int ms_left(clock_type::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - clock_type::now());
  return left.count() > 0 ? (int)left.count() : 0;
}

}  // namespace

Pty::Pty(const std::string &program, const std::vector<std::string> &argv,
         const std::vector<std::string> &env) {
  std::vector<std::string> envs = child_env(env);
  std::vector<char *> args = c_strings(argv), envp = c_strings(envs);
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    execve(program.c_str(), args.data(), envp.data());
    _exit(127);
  }
  if (pid_ < 0) ADD_FAILURE() << "forkpty: " << strerror(errno);
}

Pty::~Pty() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

bool Pty::send(const std::string &keys) {
  size_t done = 0;
  while (done < keys.size()) {
    ssize_t n = write(master_, keys.data() + done, keys.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

int Pty::read_some(int timeout_ms) {
  if (ended_) return -1;
  pollfd p = {master_, POLLIN, 0};
  int r = poll(&p, 1, timeout_ms);
  if (r <= 0) return 0;
  char buf[4096];
  ssize_t n = read(master_, buf, sizeof buf);
  if (n > 0) {
    output_.append(buf, (size_t)n);
    return 1;
  }
  if (n < 0 && errno == EINTR) return 0;
  ended_ = true;  // EIO: the last holder of the terminal's other side closed it
  return -1;
}

bool Pty::expect(const std::string &text, int timeout_ms) {
  auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t at = output_.find(text, cursor_);
    if (at != std::string::npos) {
      cursor_ = at + text.size();
      return true;
    }
    int left = ms_left(deadline);
    if (left == 0 || read_some(left) < 0) return false;
  }
}

int Pty::wait(int timeout_ms) {
  auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  while (pid_ > 0) {
    int status;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      while (read_some(100) > 0) {
      }
      return status;
    }
    int left = ms_left(deadline);
    if (left == 0) return -1;
    if (read_some(left < 20 ? left : 20) < 0) usleep(10000);
  }
  return -1;
}

}  // namespace e2e
