// vornd over its socket: sessions, the store across a restart, peer
// credentials, broken input, its start-up files and replies larger than
// the socket buffers. Statuses of single operations are in the transcripts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "support/e2e.h"

namespace {

std::string hostname(e2e::RawClient &c) {
  return c.call(15, {}, "/system", {}, "hostname").reply.value_or("<none>");
}

TEST(VorndE2e, SessionsTakeoverLogoutAndTheStoreAcrossARestart) {
  e2e::TempDir dir;
  e2e::Daemon d({"--store", dir.path + "/store.json"});
  e2e::RawClient a(d.socket()), b(d.socket());
  EXPECT_EQ(a.status(17, {}, "/"), "ERR Not logged in");
  ASSERT_EQ(a.login(e2e::user()), "OK");
  EXPECT_EQ(a.status(11, {}, "/system", {}, "hostname", "changed"), "OK");
  EXPECT_EQ(b.login(e2e::user()), "INUSE");
  ASSERT_EQ(b.login(e2e::user(), true), "OK");
  std::optional<wire::Frame> n = a.next_frame();
  EXPECT_TRUE(n && n->kind == wire::Kind::notice &&
              n->notice.code == wire::kNoticeSessionEnded);
  EXPECT_TRUE(a.closed_within(5000));
  EXPECT_EQ(hostname(b), "velmar");  // the ended session's change is gone
  EXPECT_EQ(b.status(11, {}, "/system", {}, "hostname", "other"), "OK");
  EXPECT_EQ(b.status(23, "", "", "", "", ""), "OK");
  EXPECT_EQ(b.status(15, {}, "/system", {}, "hostname"), "ERR Not logged in");
  ASSERT_EQ(b.login(e2e::user()), "OK");  // the logout freed the daemon
  EXPECT_EQ(hostname(b), "velmar");
  EXPECT_NE(d.log().find("login of \"" + e2e::user() + "\""),
            std::string::npos);
  ASSERT_EQ(b.status(10, {}, "/users", "carol"), "OK");
  ASSERT_EQ(b.status(12, {}, "/network/interfaces", "eth1"), "OK");
  ASSERT_EQ(b.status(11, {}, "/system", {}, "location", "rack 4"), "OK");
  ASSERT_EQ(b.status(13), "OK");
  ASSERT_EQ(b.status(11, {}, "/system", {}, "location", "lost"), "OK");
  EXPECT_TRUE(e2e::exited_with(d.signal(SIGTERM), 0));
  d.restart();
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "location").reply, "rack 4");
  EXPECT_EQ(c.status(17, {}, "/users/carol"), "OK");
  // The mirrored status list follows the stored interfaces.
  for (const char *gone :
       {"/network/interfaces/eth1", "/status/interfaces/eth1"})
    EXPECT_EQ(c.status(17, {}, gone), "ERR No such file or directory");
}

TEST(VorndE2e, PeerCredentialsDecideOnTheSocket) {
  if (!e2e::is_root()) GTEST_SKIP() << "needs root to log in as another uid";
  e2e::Daemon d;
  ASSERT_EQ(chmod(d.dir().c_str(), 0755), 0);  // let the child reach it
  pid_t pid = fork();
  if (pid == 0) {
    // Group root stays, so the 0660 socket stays reachable.
    if (setresuid(65534, 65534, 65534) != 0) _exit(10);
    e2e::RawClient c(d.socket());
    _exit((c.login("root") != "NO") | (c.login("nobody") != "OK") << 1);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  EXPECT_TRUE(e2e::exited_with(st, 0))
      << "1: root allowed, 2: own name refused";
  e2e::RawClient root(d.socket());
  EXPECT_EQ(root.login("somebody-else"), "OK");  // root may be anyone
  struct stat sb;
  ASSERT_EQ(stat(d.socket().c_str(), &sb), 0);
  EXPECT_EQ(sb.st_mode & 0777, 0660u);
}

TEST(VorndE2e, BrokenInputClosesOnlyThatConnection) {
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
  std::pair<bool, std::string> rows[] = {
      // greeted first?, then the bytes
      {false, "GET / HTTP/1.0\r\n\r\n"},
      {true, {char(over >> 24), char(over >> 16), char(over >> 8), char(over)}},
      {true, std::string("\x00\x00\x00\x03\x01\xff\xff", 7)},  // cut body
      {true, wire::encode(wire::Reply{1, "x", "OK"})}};  // a reply to vornd
  for (const auto &[greet, bytes] : rows) {
    e2e::RawClient c(d.socket(), greet);
    c.send_raw(bytes);
    EXPECT_TRUE(c.closed_within(5000)) << bytes;
  }
  {
    e2e::RawClient c(d.socket());
    std::string half = wire::encode(wire::Request{});
    c.send_raw(half.substr(0, half.size() / 2));  // then hang up mid-frame
  }
  EXPECT_EQ(good.status(0), "OK");
  EXPECT_EQ(hostname(good), "velmar");
}

TEST(VorndE2e, StartUpFiles) {
  e2e::Daemon d;
  e2e::RunResult second = e2e::run({"vornd", "--socket", d.socket()});
  EXPECT_NE(second.exit_code(), 0);
  EXPECT_NE(second.err.find("another daemon answers"), std::string::npos);
  EXPECT_TRUE(e2e::exited_with(d.signal(SIGTERM), 0));
  EXPECT_EQ(access(d.socket().c_str(), F_OK), -1) << "socket file left behind";
  // A socket file nobody listens on is replaced.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{AF_UNIX, {}};
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", d.socket().c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  close(fd);
  d.restart();
  EXPECT_EQ(e2e::RawClient(d.socket()).login(e2e::user()), "OK");
  // A model or store that cannot be read or parsed stops the start, naming
  // the place; a torn temporary store file goes.
  std::string model = d.dir() + "/bad.json", sock = d.dir() + "/b.sock";
  std::string store = d.dir() + "/store.json";
  std::ofstream(model)
      << "{\"nodes\": [\n  {\"name\": \"a\"},\n  {\"name\": }\n]}\n";
  std::ofstream(store + ".tmp") << "{\"version\":1,\"ro";
  std::ofstream(store) << "{\"version\":1,\"root\":{\"kids\":[{";
  std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"--model", "/nonexistent/model.json"}, "/nonexistent/model.json"},
      {{"--model", model}, model + ":3: "},
      {{"--store", store}, "--reset-bad-store"}};
  for (auto &[args, want] : rows) {
    args.insert(args.begin(), {"vornd", "--socket", sock});
    e2e::RunResult bad = e2e::run(args);
    EXPECT_NE(bad.exit_code(), 0);
    EXPECT_NE(bad.err.find(want), std::string::npos) << bad.err;
    EXPECT_EQ(access(sock.c_str(), F_OK), -1);
  }
  EXPECT_EQ(access((store + ".tmp").c_str(), F_OK), -1) << "temp file kept";
  e2e::Daemon reset({"--store", store, "--reset-bad-store"});
  e2e::RawClient c(reset.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  EXPECT_EQ(hostname(c), "velmar");
  EXPECT_EQ(access(store.c_str(), F_OK), -1);
  size_t aside = 0;
  for (const auto &e : std::filesystem::directory_iterator(d.dir()))
    aside += e.path().filename().string().starts_with("store.json.bad-");
  EXPECT_EQ(aside, 1u);
}

// Two 12 MiB replies asked at once and read only after a pause: vornd meets
// full socket buffers, keeps the rest and sends both whole, in order.
TEST(VorndE2e, RepliesLargerThanTheSocketBuffersArriveWhole) {
  e2e::TempDir dir;
  std::ofstream(dir.path + "/big.json") << R"({"nodes": [{"name": "box",
    "children": [{"name": "blob", "type": "string"}]}]})";
  e2e::Daemon d({"--model", dir.path + "/big.json"});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  std::string big(12 << 20, 'z');
  big.replace(0, 5, "first");
  ASSERT_EQ(c.status(11, {}, "/box", {}, "blob", big), "OK");
  for (uint32_t id : {100u, 101u})
    c.send_raw(
        wire::encode(wire::Request{id, 15, {std::nullopt, "/box", {}, "blob", {}}}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (uint32_t id : {100u, 101u}) {
    std::optional<wire::Frame> f = c.next_frame();
    ASSERT_TRUE(f && f->kind == wire::Kind::reply) << "reply " << id;
    EXPECT_EQ(f->reply.id, id);
    EXPECT_TRUE(f->reply.reply == big) << f->reply.reply.value_or("").size();
  }
  EXPECT_EQ(c.status(0), "OK");  // the link still answers
}

}  // namespace
