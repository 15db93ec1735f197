#include "support/daemon.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

bool can_connect(const std::string &path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  bool ok =
      ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

int free_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::string bin_path(const std::string &program) {
  std::string path = std::string(VELMAR_BIN_DIR) + "/" + program;
  if (access(path.c_str(), X_OK) != 0)
    ADD_FAILURE() << "missing program " << path << " (build it first)";
  return path;
}

Daemon::Daemon(std::vector<std::string> extra) : extra_(std::move(extra)) {
  char tmpl[] = "/tmp/vornd-e2e-XXXXXX";
  if (!mkdtemp(tmpl)) {
    ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    return;
  }
  dir_ = tmpl;
  socket_ = dir_ + "/vornd.sock";
  log_path_ = dir_ + "/vornd.log";
  start();
}

void Daemon::start() {
  std::string prog = bin_path("vornd");
  std::vector<std::string> args = {prog, "--socket", socket_};
  args.insert(args.end(), extra_.begin(), extra_.end());
  pid_ = fork();
  if (pid_ == 0) {
    int log = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) dup2(log, 2);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < 500; ++i) {
    if (can_connect(socket_)) return;
    int st;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      ADD_FAILURE() << "vornd exited at start:\n" << log();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "vornd did not start listening on " << socket_;
}

std::string Daemon::log() const {
  std::ifstream in(log_path_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int Daemon::signal(int sig) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, sig);
  if (sig != SIGTERM && sig != SIGKILL && sig != SIGINT) return -1;
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
  return st;
}

void Daemon::restart() {
  if (pid_ > 0) signal(SIGTERM);
  start();
}

Daemon::~Daemon() {
  if (pid_ > 0) {
    ::kill(pid_, SIGCONT);
    signal(SIGTERM);
  }
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

}  // namespace e2e
