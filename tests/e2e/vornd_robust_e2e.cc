// vornd under stress: restarts, crashes during commit, a full disk, TCP and
// peer-credential logins, broken input and its socket file.
#include <arpa/inet.h>
#include <crypt.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "support/daemon.h"
#include "support/raw_client.h"

namespace {

using namespace std::chrono_literals;

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs vornd with args to its end; returns its exit status and stderr.
std::pair<int, std::string> run_vornd(const std::vector<std::string> &args,
                                      const std::string &log) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    std::vector<std::string> all = {e2e::bin_path("vornd")};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(log)};
}

TEST(VorndStore, CommittedValuesSurviveARestart) {
  char tmpl[] = "/tmp/vornd-store-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string store = std::string(tmpl) + "/store.json";
  e2e::Daemon d({"--store", store});
  {
    e2e::RawClient c(d.socket());
    ASSERT_EQ(c.login("root"), "OK");
    ASSERT_EQ(c.status(10, {}, "/users", "carol"), "OK");
    ASSERT_EQ(c.status(11, {}, "/users/carol", {}, "role", "operator"), "OK");
    ASSERT_EQ(c.status(12, {}, "/network/interfaces", "eth1"), "OK");
    ASSERT_EQ(c.status(11, {}, "/system", {}, "timezone", "Asia/Tokyo"), "OK");
    ASSERT_EQ(c.status(13), "OK");
    ASSERT_EQ(c.status(11, {}, "/system", {}, "hostname", "uncommitted"), "OK");
  }
  EXPECT_EQ(WEXITSTATUS(d.signal(SIGTERM)), 0);
  d.restart();
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  EXPECT_EQ(c.call(15, {}, "/users/carol", {}, "role").reply, "operator");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "timezone").reply, "Asia/Tokyo");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  EXPECT_EQ(c.status(17, {}, "/network/interfaces/eth1"),
            "ERR No such file or directory");
  // The mirrored status list follows the stored interfaces.
  EXPECT_EQ(c.status(17, {}, "/status/interfaces/eth1"),
            "ERR No such file or directory");
  std::filesystem::remove_all(tmpl);
}

TEST(VorndStore, KilledDuringCommitLeavesOldOrNewStore) {
  char tmpl[] = "/tmp/vornd-crash-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string store = std::string(tmpl) + "/store.json";
  // A big model makes each commit write long enough to be hit.
  e2e::Daemon d({"--synthetic", "30000", "--store", store});
  std::mt19937 rng(7);
  int committed = 0;
  for (int round = 1; round <= 12; ++round) {
    {
      e2e::RawClient c(d.socket());
      ASSERT_EQ(c.login("root"), "OK");
      std::string before =
          c.call(15, {}, "/system", {}, "opt0").reply.value_or("?");
      EXPECT_TRUE(before == std::to_string(committed) ||
                  before == std::to_string(committed + 1))
          << "round " << round << " read " << before;
      committed = std::stoi(before);
      ASSERT_EQ(c.status(11, {}, "/system", {}, "opt0",
                         std::to_string(committed + 1)),
                "OK");
      wire::Request q;
      q.id = 100;
      q.type = 13;
      c.send_raw(wire::encode(q));
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 150000));
      d.signal(SIGKILL);
    }
    d.restart();  // fails the test when the store does not load
    ASSERT_GT(d.pid(), 0);
  }
  std::filesystem::remove_all(tmpl);
}

TEST(VorndStore, FullDiskRefusesTheCommitAndChangesNothing) {
  char tmpl[] = "/tmp/vornd-full-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string dir = tmpl, sock = dir + "/vornd.sock", disk = dir + "/disk";
  ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
  std::string log = dir + "/log";
  pid_t pid = fork();
  if (pid == 0) {
    // A small tmpfs seen only by the daemon, in its own mount namespace.
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
      perror("private tmpfs");
      _exit(126);
    }
    std::string prog = e2e::bin_path("vornd"), store = disk + "/store.json";
    execl(prog.c_str(), prog.c_str(), "--socket", sock.c_str(), "--store",
          store.c_str(), nullptr);
    _exit(127);
  }
  for (int i = 0; i < 500 && access(sock.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(access(sock.c_str(), F_OK), 0) << read_file(log);
  std::string seen = "/proc/" + std::to_string(pid) + "/root" + disk;
  {
    e2e::RawClient c(sock);
    ASSERT_EQ(c.login("root"), "OK");
    ASSERT_EQ(c.status(11, {}, "/system", {}, "hostname", "first"), "OK");
    ASSERT_EQ(c.status(13), "OK");
    // Fill the daemon's disk to the last byte.
    std::string filler = seen + "/filler";
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0) << filler;
    std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
    ASSERT_EQ(c.status(11, {}, "/system", {}, "hostname", "second"), "OK");
    std::string st = c.status(13);
    EXPECT_EQ(st.substr(0, 4), "ERR ") << st;
    EXPECT_NE(read_file(seen + "/store.json").find("\"first\""),
              std::string::npos);
    EXPECT_EQ(access((seen + "/store.json.tmp").c_str(), F_OK), -1);
    ASSERT_EQ(c.status(22, "", "", "", "", ""), "OK");  // back to running
    EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "first");
    unlink(filler.c_str());
    ASSERT_EQ(c.status(11, {}, "/system", {}, "hostname", "third"), "OK");
    EXPECT_EQ(c.status(13), "OK");
    EXPECT_NE(read_file(seen + "/store.json").find("\"third\""),
              std::string::npos);
  }
  kill(pid, SIGTERM);
  int st = 0;
  waitpid(pid, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << read_file(log);
  std::filesystem::remove_all(dir);
}

TEST(VorndLogin, TcpPasswordsAndNoUsersFile) {
  char tmpl[] = "/tmp/vornd-tcp-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  std::string users = std::string(tmpl) + "/users";
  crypt_data data{};
  std::ofstream(users) << "alice:" << crypt_r("wonder", "$5$saltsalt$", &data)
                       << "\n";
  int port = e2e::free_port();
  {
    e2e::Daemon d(
        {"--listen", "127.0.0.1:" + std::to_string(port), "--users", users});
    e2e::RawClient c(port);
    EXPECT_EQ(c.login("alice", false, "wrong"), "NO");
    EXPECT_EQ(c.login("mallory", false, "wonder"), "NO");
    EXPECT_EQ(c.status(17, {}, "/"), "ERR Not logged in");
    EXPECT_EQ(c.login("alice", false, "wonder"), "OK");
    EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  }
  port = e2e::free_port();
  e2e::Daemon d({"--listen", "127.0.0.1:" + std::to_string(port)});
  e2e::RawClient c(port);
  EXPECT_EQ(c.login("alice", false, "wonder"), "NO");
  EXPECT_EQ(c.login("root", false, ""), "NO");
  std::filesystem::remove_all(tmpl);
}

TEST(VorndLogin, PeerCredentialsDecideOnTheSocket) {
  e2e::Daemon d;
  ASSERT_EQ(chmod(d.dir().c_str(), 0755), 0);  // let the child reach it
  pid_t pid = fork();
  if (pid == 0) {
    // Group root stays, so the 0660 socket stays reachable.
    if (setresuid(65534, 65534, 65534) != 0) _exit(10);
    int code = 0;
    {
      e2e::RawClient c(d.socket());
      if (c.login("root") != "NO") code |= 1;
      if (c.login("nobody") != "OK") code |= 2;
    }
    _exit(code | (::testing::Test::HasFailure() ? 4 : 0));
  }
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0) << "1: root allowed, 2: own name refused";
  e2e::RawClient root(d.socket());
  EXPECT_EQ(root.login("somebody-else"), "OK");  // root may be anyone
  struct stat sb;
  ASSERT_EQ(stat(d.socket().c_str(), &sb), 0);
  EXPECT_EQ(sb.st_mode & 0777, 0660u);
}

TEST(VorndInput, BrokenFramesCloseOnlyThatConnection) {
  e2e::Daemon d;
  e2e::RawClient good(d.socket());
  ASSERT_EQ(good.login("root"), "OK");
  {
    e2e::RawClient c(d.socket(), false);
    c.send_raw("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(c.closed_within(5000)) << "bad greeting";
  }
  {
    e2e::RawClient c(d.socket(), false);
    c.send_raw(wire::encode_hello(9));
    EXPECT_EQ(wire::decode_hello(c.read_hello()), wire::kVersion);
    EXPECT_TRUE(c.closed_within(5000)) << "other version";
  }
  {
    e2e::RawClient c(d.socket());
    uint32_t over = wire::kMaxFrame + 1;
    std::string len;
    for (int shift = 24; shift >= 0; shift -= 8)
      len.push_back(static_cast<char>((over >> shift) & 0xFF));
    c.send_raw(len);
    EXPECT_TRUE(c.closed_within(5000)) << "oversized";
  }
  {
    e2e::RawClient c(d.socket());
    c.send_raw(std::string("\x00\x00\x00\x03\x01\xff\xff", 7));
    EXPECT_TRUE(c.closed_within(5000)) << "truncated body";
  }
  {
    e2e::RawClient c(d.socket());
    c.send_raw(wire::encode(wire::Reply{1, "x", "OK"}));
    EXPECT_TRUE(c.closed_within(5000)) << "a reply sent to the daemon";
  }
  {
    e2e::RawClient c(d.socket());
    std::string half = wire::encode(wire::Request{});
    c.send_raw(half.substr(0, half.size() / 2));  // then hang up mid-frame
  }
  std::mt19937 rng(3);
  for (int i = 0; i < 20; ++i) {
    e2e::RawClient c(d.socket());
    std::string junk(1 + rng() % 200, '\0');
    for (char &ch : junk) ch = static_cast<char>(rng());
    junk[0] = 0;  // keep the length small so the daemon reads the body
    c.send_raw(junk);
  }
  EXPECT_EQ(good.status(0), "OK");
  EXPECT_EQ(good.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  EXPECT_GT(d.pid(), 0);
  EXPECT_EQ(kill(d.pid(), 0), 0);
}

TEST(VorndSocket, StaleFileReplacedLiveDaemonRefusedFileRemoved) {
  e2e::Daemon d;
  std::string log = d.dir() + "/second.log";
  auto [code, err] = run_vornd({"--socket", d.socket()}, log);
  EXPECT_NE(code, 0);
  EXPECT_NE(err.find("another daemon answers"), std::string::npos) << err;
  EXPECT_EQ(WEXITSTATUS(d.signal(SIGTERM)), 0);
  EXPECT_EQ(access(d.socket().c_str(), F_OK), -1) << "socket file left behind";
  // A socket file nobody listens on is replaced.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", d.socket().c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ::close(fd);
  d.restart();
  e2e::RawClient c(d.socket());
  EXPECT_EQ(c.login("root"), "OK");
  auto [bad, why] = run_vornd(
      {"--socket", d.dir() + "/x.sock", "--model", "/nonexistent/model.json"},
      log);
  EXPECT_NE(bad, 0);
  EXPECT_NE(why.find("/nonexistent/model.json"), std::string::npos);
}

TEST(VorndModelFile, SyntaxErrorStopsStartWithFileAndLine) {
  e2e::Daemon d;
  std::string model = d.dir() + "/bad.json", log = d.dir() + "/bad.log";
  std::ofstream(model)
      << "{\"nodes\": [\n  {\"name\": \"a\"},\n  {\"name\": }\n]}\n";
  auto [code, err] =
      run_vornd({"--socket", d.dir() + "/b.sock", "--model", model}, log);
  EXPECT_NE(code, 0);
  EXPECT_NE(err.find(model + ":3: "), std::string::npos) << err;
  EXPECT_EQ(access((d.dir() + "/b.sock").c_str(), F_OK), -1);
}

}  // namespace
