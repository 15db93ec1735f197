// vornd over its socket: sessions and their changes, the store across
// restarts, peer credentials, broken input and its socket file. Statuses of
// single operations are unit-tested.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/e2e.h"

namespace {

const std::string kNoEnt = "ERR No such file or directory";

std::string hostname(e2e::RawClient &c) {
  return c.call(15, {}, "/system", {}, "hostname").reply.value_or("<none>");
}

TEST(VorndSession, LoginRulesTakeoverAndLogout) {
  e2e::Daemon d;
  e2e::RawClient a(d.socket()), b(d.socket());
  // A no-op before login shows in the hostile tests, a missing value (NULL
  // and its status) with cli -D in the structure transcript.
  EXPECT_EQ(a.status(17, {}, "/"), "ERR Not logged in");
  ASSERT_EQ(a.login(e2e::user()), "OK");
  EXPECT_EQ(a.status(11, {}, "/system", {}, "hostname", "changed"), "OK");
  EXPECT_EQ(b.login(e2e::user()), "INUSE");
  ASSERT_EQ(b.login(e2e::user(), true), "OK");
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
  ASSERT_EQ(b.login(e2e::user()), "OK");  // the logout freed the daemon
  EXPECT_EQ(hostname(b), "velmar");
  EXPECT_NE(d.log().find("login of \"" + e2e::user() + "\""),
            std::string::npos);
}

// Without a store, dropped changes and commits seen by the next session show
// in the values transcript.
TEST(VorndSession, TheStoreKeepsCommitsAcrossARestart) {
  e2e::TempDir dir;
  e2e::Daemon d({"--store", dir.path + "/store.json"});
  {
    e2e::RawClient a(d.socket());
    ASSERT_EQ(a.login(e2e::user()), "OK");
    ASSERT_EQ(a.status(10, {}, "/users", "carol"), "OK");
    ASSERT_EQ(a.status(11, {}, "/users/carol", {}, "role", "operator"), "OK");
    ASSERT_EQ(a.status(12, {}, "/network/interfaces", "eth1"), "OK");
    ASSERT_EQ(a.status(11, {}, "/system", {}, "location", "rack 4"), "OK");
    ASSERT_EQ(a.status(13), "OK");
    ASSERT_EQ(a.status(11, {}, "/system", {}, "location", "lost"), "OK");
  }
  EXPECT_EQ(WEXITSTATUS(d.signal(SIGTERM)), 0);
  d.restart();
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  EXPECT_EQ(c.call(15, {}, "/users/carol", {}, "role").reply, "operator");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "location").reply, "rack 4");
  EXPECT_EQ(c.status(17, {}, "/network/interfaces/eth1"), kNoEnt);
  // The mirrored status list follows the stored interfaces.
  EXPECT_EQ(c.status(17, {}, "/status/interfaces/eth1"), kNoEnt);
}

TEST(VorndLogin, PeerCredentialsDecideOnTheSocket) {
  if (!e2e::is_root()) GTEST_SKIP() << "needs root to log in as another uid";
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
  ASSERT_EQ(good.login(e2e::user()), "OK");
  {
    e2e::RawClient c(d.socket(), false);
    c.send_raw(wire::encode_hello(9));
    EXPECT_EQ(wire::decode_hello(c.read_hello()), wire::kVersion);
    EXPECT_TRUE(c.closed_within(5000)) << "other version";
  }
  uint32_t over = wire::kMaxFrame + 1;
  const std::string broken[] = {
      "GET / HTTP/1.0\r\n\r\n",  // instead of a greeting
      std::string{char(over >> 24), char(over >> 16), char(over >> 8),
                  char(over)},                         // oversized
      std::string("\x00\x00\x00\x03\x01\xff\xff", 7),  // truncated body
      wire::encode(wire::Reply{1, "x", "OK"}),         // a reply to the daemon
  };
  for (const std::string &bytes : broken) {
    e2e::RawClient c(d.socket(), &bytes != broken);
    c.send_raw(bytes);
    EXPECT_TRUE(c.closed_within(5000)) << broken - &bytes;
  }
  {
    e2e::RawClient c(d.socket());
    std::string half = wire::encode(wire::Request{});
    c.send_raw(half.substr(0, half.size() / 2));  // then hang up mid-frame
  }
  EXPECT_EQ(good.status(0), "OK");
  EXPECT_EQ(hostname(good), "velmar");
}

TEST(VorndStart, SocketFileAndModelFile) {
  e2e::Daemon d;
  e2e::RunResult second = e2e::run({"vornd", "--socket", d.socket()});
  EXPECT_NE(second.exit_code(), 0);
  EXPECT_NE(second.err.find("another daemon answers"), std::string::npos)
      << second.err;
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
  EXPECT_EQ(c.login(e2e::user()), "OK");
  // A model that cannot be read or parsed stops the start, naming the place.
  std::string model = d.dir() + "/bad.json", sock = d.dir() + "/b.sock";
  std::ofstream(model)
      << "{\"nodes\": [\n  {\"name\": \"a\"},\n  {\"name\": }\n]}\n";
  for (std::string m : {std::string("/nonexistent/model.json"), model}) {
    e2e::RunResult bad = e2e::run({"vornd", "--socket", sock, "--model", m});
    EXPECT_NE(bad.exit_code(), 0);
    EXPECT_NE(bad.err.find(m == model ? model + ":3: " : m), std::string::npos)
        << bad.err;
    EXPECT_EQ(access(sock.c_str(), F_OK), -1);
  }
}

TEST(VorndStart, LeftoversAndABadStore) {
  e2e::TempDir dir;
  std::string store = dir.path + "/store.json", sock = dir.path + "/s.sock";
  std::ofstream(store + ".tmp") << "{\"version\":1,\"ro";  // a torn commit
  std::ofstream(store) << "{\"version\":1,\"root\":{\"kids\":[{";
  e2e::RunResult bad = e2e::run({"vornd", "--socket", sock, "--store", store});
  EXPECT_NE(bad.exit_code(), 0);
  EXPECT_NE(bad.err.find("--reset-bad-store"), std::string::npos) << bad.err;
  EXPECT_EQ(access((store + ".tmp").c_str(), F_OK), -1) << "temp file kept";
  e2e::Daemon d({"--store", store, "--reset-bad-store"});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  EXPECT_EQ(hostname(c), "velmar");
  EXPECT_EQ(access(store.c_str(), F_OK), -1);
  size_t aside = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir.path))
    aside += e.path().filename().string().starts_with("store.json.bad-");
  EXPECT_EQ(aside, 1u);
}

// Replies that do not fit in the socket buffers: vornd must keep them and
// send the rest once the client reads again.
TEST(VorndBacklog, ReplyLargerThanTheSocketBuffersArrivesWhole) {
  e2e::Daemon d({"--synthetic", "30000"});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
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
