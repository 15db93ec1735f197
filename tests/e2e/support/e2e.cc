#include "support/e2e.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {
namespace {

// Returns a socket connected to the Unix socket at path, or -1.
int connect_unix(const std::string &path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
    return fd;
  ::close(fd);
  return -1;
}

// Writes all of data to fd (a socket, a file or a terminal); returns false
// when it cannot.
bool write_all(int fd, const std::string &data) {
  for (size_t done = 0; done < data.size();) {
    ssize_t n =
        ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK)
      n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

// A program's argv and environment as exec wants them: the test's
// environment without CLI_USER, CLI_PASSWORD and CLI_SERVER, with the
// "NAME=value" entries of extra added or replaced. In a cross build ctest
// sets VELMAR_EMULATOR (the qemu command line): the programs under test,
// not the host's own tools under /usr or /bin, run through it.
struct Exec {
  Exec(std::string path, const Args &argv, const Args &extra)
      : program(std::move(path)), args(argv) {
    const char *emulator = getenv("VELMAR_EMULATOR");
    if (emulator && *emulator && !program.starts_with("/usr/") &&
        !program.starts_with("/bin/")) {
      std::istringstream words(emulator);
      Args cmd{std::istream_iterator<std::string>(words), {}};
      cmd.insert(cmd.end(), {"-0", args[0], program});
      cmd.insert(cmd.end(), args.begin() + 1, args.end());
      program = cmd[0], args = std::move(cmd);
    }
    Args names = {"CLI_USER", "CLI_PASSWORD", "CLI_SERVER"};
    for (const std::string &x : extra)
      names.push_back(x.substr(0, x.find('=')));
    for (char **e = environ; *e; ++e) {
      bool dropped = false;
      for (const std::string &n : names)
        dropped = dropped || strncmp(*e, (n + "=").c_str(), n.size() + 1) == 0;
      if (!dropped) env.push_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    for (Args *texts : {&args, &env}) {
      auto &ptrs = texts == &args ? argp : envp;
      for (std::string &t : *texts) ptrs.push_back(t.data());
      ptrs.push_back(nullptr);
    }
  }
  // Replaces the process; only async-signal-safe calls (tests have threads).
  [[noreturn]] void run() {
    execve(program.c_str(), argp.data(), envp.data());
    _exit(127);
  }
  std::string program;
  Args args, env;
  std::vector<char *> argp, envp;
};

// Returns an anonymous file holding text, read from its start.
int memory_file(const std::string &text) {
  int fd = memfd_create("e2e", MFD_CLOEXEC);
  EXPECT_TRUE(fd >= 0 && write_all(fd, text)) << strerror(errno);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// Returns everything in the file fd and closes it.
std::string contents(int fd) {
  std::string out;
  char buf[65536];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, n);
  close(fd);
  return out;
}

// Returns the path of a copy of program, with the library beside it, in a
// folder that every user can reach, made once per test run.
std::string reachable_copy(const std::string &program) {
  static TempDir dir;
  fs::permissions(dir.path, fs::perms(0755));
  std::string lib = std::string(VELMAR_BIN_DIR) + "/../lib/libvornal2.so.2";
  for (const std::string &from : {program, lib}) {
    std::string to = dir.path + "/" + fs::path(from).filename().string();
    std::error_code ec;
    if (!fs::exists(to)) fs::copy_file(from, to, ec);
    EXPECT_FALSE(ec) << from << ": " << ec.message();
    fs::permissions(to, fs::perms(0755), ec);
  }
  return dir.path + "/" + fs::path(program).filename().string();
}

}  // namespace

std::string user() {
  const passwd *pw = getpwuid(geteuid());
  return pw ? pw->pw_name : std::to_string(geteuid());
}

bool is_root() {
  return geteuid() == 0;
}

std::string bin_path(const std::string &program) {
  if (program.find('/') != std::string::npos) return program;
  std::string path = std::string(VELMAR_BIN_DIR) + "/" + program;
  if (access(path.c_str(), X_OK) != 0)
    ADD_FAILURE() << "missing program " << path << " (build it first)";
  return path;
}

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

std::string without_cr(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
    text.erase(at, 1);
  return text;
}

bool eventually(const std::function<bool()> &ok, int timeout_ms) {
  for (int waited = 0; !ok(); waited += 10, usleep(10000))
    if (waited >= timeout_ms) return false;
  return true;
}

bool exited_with(int wait_status, int code) {
  return wait_status != -1 && WIFEXITED(wait_status) &&
         WEXITSTATUS(wait_status) == code;
}

bool killed_by(int wait_status, int sig) {
  return wait_status != -1 && WIFSIGNALED(wait_status) &&
         WTERMSIG(wait_status) == sig;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/velmar-e2e-XXXXXX";
  EXPECT_TRUE(mkdtemp(tmpl)) << strerror(errno);
  path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path, ec);
}

int RunResult::exit_code() const {
  return wait_status >= 0 && WIFEXITED(wait_status) ? WEXITSTATUS(wait_status)
                                                    : -1;
}

RunResult run(const Args &argv, const std::string &input, const Args &env,
              uid_t uid, int timeout_ms) {
  RunResult res;
  std::string program = bin_path(argv[0]);
  Args extra = env;
  bool other = uid != (uid_t)-1 && uid != geteuid();
  if (other) {
    program = reachable_copy(program);
    extra.push_back("LD_LIBRARY_PATH=" +
                    fs::path(program).parent_path().string());
  }
  Exec exec(program, argv, extra);
  int in = memory_file(input), out = memory_file(""), err = memory_file("");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    if (other && (setgroups(0, nullptr) || setgid(uid) || setuid(uid)))
      _exit(126);
    exec.run();
  }
  close(in);
  auto ended = [&] { return waitpid(pid, &res.wait_status, WNOHANG) != 0; };
  res.timed_out = pid > 0 && !eventually(ended, timeout_ms);
  if (res.timed_out) kill(pid, SIGKILL), waitpid(pid, &res.wait_status, 0);
  res.out = contents(out);
  res.err = contents(err);
  return res;
}

Daemon::Daemon(Args extra)
    : extra_(std::move(extra)), socket_(dir_.path + "/vornd.sock") {
  start();
}

Daemon::~Daemon() {
  if (pid_ > 0) ::kill(pid_, SIGCONT), signal(SIGTERM);
}

void Daemon::start() {
  Args args = {bin_path("vornd"), "--socket", socket_};
  args.insert(args.end(), extra_.begin(), extra_.end());
  Exec exec(args[0], args, {});
  int log = open((dir() + "/vornd.log").c_str(),
                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = fork();
  if (pid_ == 0) dup2(log, 2), exec.run();
  close(log);
  bool exited = false;
  bool up = eventually(
      [&] {
        int fd = connect_unix(socket_);
        if (fd >= 0) return close(fd) == 0;
        return exited = waitpid(pid_, nullptr, WNOHANG) == pid_;
      },
      20000);  // a large model takes a while under emulation
  if (exited) pid_ = -1;
  EXPECT_TRUE(up && !exited) << "vornd did not start on " << socket_ << ":\n"
                             << this->log();
}

std::string Daemon::log() const {
  std::stringstream ss;
  ss << std::ifstream(dir() + "/vornd.log").rdbuf();
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

void Daemon::restart(std::optional<Args> extra) {
  if (extra) extra_ = std::move(*extra);
  signal(SIGTERM);
  start();
}

Pty::Pty(const Args &argv, const Args &env, int input) {
  std::string program = bin_path(argv[0]);
  Exec exec(program, argv, env);
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    if (input >= 0) dup2(input, 0);
    exec.run();
  }
  if (pid_ < 0) ADD_FAILURE() << "forkpty: " << strerror(errno);
}

Pty::~Pty() {
  if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
  if (master_ >= 0) close(master_);
}

void Pty::send(const std::string &keys) {
  EXPECT_TRUE(write_all(master_, keys)) << "keys not typed: " << keys;
}

void Pty::hang_up() {
  close(master_);
  master_ = -1;
}

int Pty::read_some(int timeout_ms) {
  pollfd p = {master_, POLLIN, 0};
  if (master_ < 0) return -1;
  if (poll(&p, 1, timeout_ms) <= 0) return 0;
  char buf[4096];
  ssize_t n = read(master_, buf, sizeof buf);
  if (n > 0) output_.append(buf, (size_t)n);
  // EIO: the last holder of the other side closed it.
  return n > 0 ? 1 : (n < 0 && errno == EINTR) ? 0 : -1;
}

bool Pty::expect(const std::string &text) {
  return eventually(
      [&] {
        size_t at = output_.find(text, cursor_);
        if (at == std::string::npos) return read_some(10) && false;
        cursor_ = at + text.size();
        return true;
      },
      10000);
}

int Pty::wait(int timeout_ms) {
  int status = -1;
  auto ended = [&] {
    read_some(0);
    return waitpid(pid_, &status, WNOHANG) == pid_;
  };
  if (pid_ <= 0 || !eventually(ended, timeout_ms)) return -1;
  pid_ = -1;
  while (read_some(100) > 0) {
  }
  return status;
}

RawClient::RawClient(const std::string &unix_path, bool greet) {
  fd_ = connect_unix(unix_path);
  if (fd_ < 0) ADD_FAILURE() << "connect " << unix_path << ": " << errno;
  if (fd_ < 0 || !greet) return;
  send_raw(wire::encode_hello());
  std::string got(wire::kHelloSize, '\0');
  pollfd p{fd_, POLLIN, 0};
  bool whole =
      ::poll(&p, 1, 5000) > 0 &&
      ::recv(fd_, got.data(), got.size(), MSG_WAITALL) == (ssize_t)got.size();
  EXPECT_TRUE(whole && wire::decode_hello(got) == wire::kVersion) << "greeting";
}

RawClient::~RawClient() {
  if (fd_ >= 0) ::close(fd_);
}

void RawClient::send_raw(const std::string &bytes) {
  write_all(fd_, bytes);
}

std::optional<wire::Frame> RawClient::next_frame(int timeout_ms) {
  wire::Frame f;
  for (;;) {
    wire::DecodeStatus st = reader_.next(f);
    if (st == wire::DecodeStatus::ok) return f;
    pollfd p{fd_, POLLIN, 0};
    char buf[65536];
    ssize_t n = st == wire::DecodeStatus::bad || ::poll(&p, 1, timeout_ms) <= 0
                    ? 0
                    : ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return std::nullopt;
    reader_.feed(std::string_view(buf, (size_t)n));
  }
}

bool RawClient::closed_within(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  char buf[4096];
  while (::poll(&p, 1, timeout_ms) > 0)
    if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
  return false;
}

wire::Reply RawClient::call(uint16_t type, wire::Text a1, wire::Text a2,
                            wire::Text a3, wire::Text a4, wire::Text a5) {
  wire::Request q{next_id_++, type, {a1, a2, a3, a4, a5}};
  send_raw(wire::encode(q));
  std::optional<wire::Frame> f = next_frame();
  if (!f || f->kind != wire::Kind::reply) return {};
  EXPECT_EQ(f->reply.id, q.id);
  return f->reply;
}

std::string RawClient::status(uint16_t type, wire::Text a1, wire::Text a2,
                              wire::Text a3, wire::Text a4, wire::Text a5) {
  return call(type, a1, a2, a3, a4, a5).status.value_or("<none>");
}

std::string RawClient::login(const std::string &user, bool force) {
  return status(20, force ? "-force" : "", "", "", user, "");
}

}  // namespace e2e
