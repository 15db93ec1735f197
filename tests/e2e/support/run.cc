#include "support/run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace e2e {
namespace {

// Replaces the child's identity with uid (and the same gid); exits on
// failure so that a test never runs with the wrong user.
void drop_to(uid_t uid) {
  if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
    _exit(126);
}

// Only async-signal-safe calls here: the test process may have threads.
[[noreturn]] void exec_child(const RunRequest &request, char *const *argv,
                             char *const *envp, int in, int out, int err) {
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (request.uid != (uid_t)-1) drop_to(request.uid);
  execve(request.program.c_str(), argv, envp);
  _exit(127);
}

// Moves data between the pipes until both outputs close or time runs out.
void pump(const RunRequest &request, int in, int out, int err, RunResult &res) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(request.timeout_ms);
  size_t written = 0;
  if (request.input.empty()) close(in), in = -1;
  while (out >= 0 || err >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      res.timed_out = true;
      break;
    }
    pollfd p[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
    if (poll(p, 3, (int)left.count()) < 0 && errno != EINTR) break;
    int *fds[2] = {&out, &err};
    std::string *bufs[2] = {&res.out, &res.err};
    for (int i = 0; i < 2; ++i) {
      if (*fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
        continue;
      char buf[4096];
      ssize_t n = read(*fds[i], buf, sizeof buf);
      if (n > 0)
        bufs[i]->append(buf, (size_t)n);
      else if (n == 0 || errno != EINTR)
        close(*fds[i]), *fds[i] = -1;
    }
    if (in >= 0 && (p[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = write(in, request.input.data() + written,
                        request.input.size() - written);
      if (n > 0) written += (size_t)n;
      if (n < 0 || written == request.input.size()) close(in), in = -1;
    }
  }
  for (int fd : {in, out, err})
    if (fd >= 0) close(fd);
}

}  // namespace

int RunResult::exit_code() const {
  return wait_status >= 0 && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                                    : -1;
}

int RunResult::signal() const {
  return wait_status >= 0 && WIFSIGNALED(wait_status) ? WTERMSIG(wait_status)
                                                      : 0;
}

std::vector<std::string> child_env(const std::vector<std::string> &extra) {
  std::vector<std::string> env;
  auto named = [](const std::string &e, const std::string &name) {
    return e.compare(0, name.size() + 1, name + "=") == 0;
  };
  for (char **e = environ; *e; ++e) {
    std::string entry = *e;
    bool dropped = false;
    for (const char *name : {"CLI_USER", "CLI_PASSWORD", "CLI_SERVER"})
      dropped = dropped || named(entry, name);
    for (const std::string &x : extra)
      dropped = dropped || named(entry, x.substr(0, x.find('=')));
    if (!dropped) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char *> c_strings(const std::vector<std::string> &texts) {
  std::vector<char *> v;
  for (const std::string &t : texts) v.push_back(const_cast<char *>(t.c_str()));
  v.push_back(nullptr);
  return v;
}

RunResult run(const RunRequest &request) {
  RunResult res;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    return res;
  // A program that stops reading its input must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> env = child_env(request.env);
  std::vector<char *> argv = c_strings(request.argv), envp = c_strings(env);
  pid_t pid = fork();
  if (pid == 0)
    exec_child(request, argv.data(), envp.data(), in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    close(in[1]), close(out[0]), close(err[0]);
    return res;
  }
  pump(request, in[1], out[0], err[0], res);
  if (res.timed_out) kill(pid, SIGKILL);
  waitpid(pid, &res.wait_status, 0);
  return res;
}

std::string without_cr(const std::string &text) {
  std::string s;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      s += text[i];
  return s;
}

}  // namespace e2e
