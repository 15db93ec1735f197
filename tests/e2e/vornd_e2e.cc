// vornd over its socket: sessions and their changes, the store across
// restarts, crashes and a full disk, peer credentials, broken input and its
// socket file. Statuses of single operations are unit-tested.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "support/daemon.h"
#include "support/raw_client.h"

namespace {

const std::string kNoEnt = "ERR No such file or directory";

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs vornd with args in a child; before_exec runs there first. Returns
// the child's pid; its stderr goes to log.
template <typename Fn>
pid_t start_vornd(const std::vector<std::string> &args, const std::string &log,
                  Fn before_exec) {
  std::vector<std::string> all = {e2e::bin_path("vornd")};
  all.insert(all.end(), args.begin(), args.end());
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    before_exec();
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Runs vornd with args to its end; returns its exit code and stderr.
std::pair<int, std::string> run_vornd(const std::vector<std::string> &args,
                                      const std::string &log) {
  int st = 0;
  waitpid(start_vornd(args, log, [] {}), &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, read_file(log)};
}

std::string hostname(e2e::RawClient &c) {
  return c.call(15, {}, "/system", {}, "hostname").reply.value_or("<none>");
}

TEST(VorndSession, LoginRulesTakeoverAndLogout) {
  e2e::Daemon d;
  e2e::RawClient a(d.socket()), b(d.socket());
  EXPECT_EQ(a.status(0), "OK");  // the no-op needs no login
  EXPECT_EQ(a.status(17, {}, "/"), "ERR Not logged in");
  EXPECT_EQ(a.status(13), "ERR Not logged in");
  ASSERT_EQ(a.login("admin"), "OK");
  EXPECT_EQ(a.status(99), "ERR Unknown request");
  wire::Reply miss = a.call(15, {}, "/system", {}, "nope");
  EXPECT_FALSE(miss.reply);
  EXPECT_EQ(miss.status, kNoEnt);
  EXPECT_EQ(a.status(11, {}, "/system", {}, "hostname", "changed"), "OK");
  EXPECT_EQ(b.login("operator"), "INUSE");
  ASSERT_EQ(b.login("operator", true), "OK");
  std::optional<wire::Frame> n = a.next_frame();
  ASSERT_TRUE(n);
  EXPECT_EQ(n->kind, wire::Kind::notice);
  EXPECT_EQ(n->notice.code, wire::kNoticeSessionEnded);
  EXPECT_TRUE(a.closed_within(5000));
  // The forced-out session's change was never committed.
  EXPECT_EQ(hostname(b), "velmar");
  EXPECT_EQ(b.status(11, {}, "/system", {}, "hostname", "other"), "OK");
  EXPECT_EQ(b.status(23, "", "", "", "", ""), "OK");
  EXPECT_EQ(b.status(15, {}, "/system", {}, "hostname"), "ERR Not logged in");
  ASSERT_EQ(b.login("x"), "OK");  // the logout freed the daemon
  EXPECT_EQ(hostname(b), "velmar");
  EXPECT_NE(d.log().find("login of 'operator'"), std::string::npos);
}

TEST(VorndSession, ClosedConnectionDropsChangesAndTheStoreKeepsCommits) {
  char tmpl[] = "/tmp/vornd-store-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  e2e::Daemon d({"--store", std::string(tmpl) + "/store.json"});
  {
    e2e::RawClient a(d.socket());
    ASSERT_EQ(a.login("root"), "OK");
    ASSERT_EQ(a.status(10, {}, "/users", "carol"), "OK");
    ASSERT_EQ(a.status(11, {}, "/users/carol", {}, "role", "operator"), "OK");
    ASSERT_EQ(a.status(12, {}, "/network/interfaces", "eth1"), "OK");
    ASSERT_EQ(a.status(11, {}, "/system", {}, "location", "rack 4"), "OK");
    ASSERT_EQ(a.status(13), "OK");
    ASSERT_EQ(a.status(11, {}, "/system", {}, "location", "lost"), "OK");
    ASSERT_EQ(a.status(11, {}, "/system", {}, "hostname", "lost"), "OK");
  }
  e2e::RawClient b(d.socket());
  ASSERT_EQ(b.login("root"), "OK");
  EXPECT_EQ(b.call(15, {}, "/system", {}, "location").reply, "rack 4");
  EXPECT_EQ(b.status(11, {}, "/system", {}, "location", std::nullopt), "OK");
  EXPECT_EQ(b.call(15, {}, "/system", {}, "location").reply, "");
  EXPECT_EQ(b.status(22, "", "", "", "", ""), "OK");  // revert
  EXPECT_EQ(b.call(15, {}, "/system", {}, "location").reply, "rack 4");
  EXPECT_EQ(WEXITSTATUS(d.signal(SIGTERM)), 0);
  d.restart();
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  EXPECT_EQ(c.call(15, {}, "/users/carol", {}, "role").reply, "operator");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "location").reply, "rack 4");
  EXPECT_EQ(hostname(c), "velmar");
  EXPECT_EQ(c.status(17, {}, "/network/interfaces/eth1"), kNoEnt);
  // The mirrored status list follows the stored interfaces.
  EXPECT_EQ(c.status(17, {}, "/status/interfaces/eth1"), kNoEnt);
  std::filesystem::remove_all(tmpl);
}

TEST(VorndStore, KilledDuringCommitLeavesOldOrNewStore) {
  char tmpl[] = "/tmp/vornd-crash-XXXXXX";
  ASSERT_TRUE(mkdtemp(tmpl));
  // A big model makes each commit write long enough to be hit.
  e2e::Daemon d(
      {"--synthetic", "30000", "--store", std::string(tmpl) + "/store.json"});
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
  pid_t pid = start_vornd(
      {"--socket", sock, "--store", disk + "/store.json"}, log, [&] {
        // A small tmpfs seen only by the daemon, in its own mount namespace.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
          _exit(126);
      });
  for (int i = 0; i < 500 && access(sock.c_str(), F_OK) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
    EXPECT_EQ(hostname(c), "first");
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
  uint32_t over = wire::kMaxFrame + 1;
  const std::string broken[] = {
      std::string{char(over >> 24), char(over >> 16), char(over >> 8),
                  char(over)},                         // oversized
      std::string("\x00\x00\x00\x03\x01\xff\xff", 7),  // truncated body
      wire::encode(wire::Reply{1, "x", "OK"}),         // a reply to the daemon
  };
  for (const std::string &bytes : broken) {
    e2e::RawClient c(d.socket());
    c.send_raw(bytes);
    EXPECT_TRUE(c.closed_within(5000)) << broken - &bytes;
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
  EXPECT_EQ(hostname(good), "velmar");
  EXPECT_EQ(kill(d.pid(), 0), 0);
}

TEST(VorndStart, SocketFileAndModelFile) {
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
  // A model that cannot be read or parsed stops the start, naming the place.
  std::string model = d.dir() + "/bad.json", sock = d.dir() + "/b.sock";
  std::ofstream(model)
      << "{\"nodes\": [\n  {\"name\": \"a\"},\n  {\"name\": }\n]}\n";
  for (std::string m : {std::string("/nonexistent/model.json"), model}) {
    auto [bad, why] = run_vornd({"--socket", sock, "--model", m}, log);
    EXPECT_NE(bad, 0);
    EXPECT_NE(why.find(m == model ? model + ":3: " : m), std::string::npos)
        << why;
    EXPECT_EQ(access(sock.c_str(), F_OK), -1);
  }
}

// Replies that do not fit in the socket buffers: vornd must keep them and
// send the rest once the client reads again.
TEST(VorndBacklog, ReplyLargerThanTheSocketBuffersArrivesWhole) {
  e2e::Daemon d({"--synthetic", "30000"});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login("root"), "OK");
  // Two listings asked at once, read only after a pause: the daemon meets a
  // full buffer and must finish both later, in order.
  wire::Request list{100, 17, {std::nullopt, "/", {}, {}, {}}};
  c.send_raw(wire::encode(list));
  list.id = 101;
  c.send_raw(wire::encode(list));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (uint32_t id : {100u, 101u}) {
    std::optional<wire::Frame> f = c.next_frame();
    ASSERT_TRUE(f && f->kind == wire::Kind::reply) << "reply " << id;
    EXPECT_EQ(f->reply.id, id);
    ASSERT_TRUE(f->reply.reply);
    const std::string &text = *f->reply.reply;
    EXPECT_GT(text.size(), 400u * 1024);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n') + 1, 29998);
    EXPECT_TRUE(text.ends_with("\nparam/side-effect"));
  }
  EXPECT_EQ(c.status(0), "OK");  // the link still answers
}

}  // namespace
