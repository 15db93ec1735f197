// vornd over its socket: sessions, the store, peer credentials, start-up
// files, broken input. (The transcripts show refused and forced logins.)
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/e2e.h"

namespace {

TEST(VorndE2e, SessionsTheStoreAcrossARestartAndAFailedCommit) {
  e2e::TempDir dir;
  const std::string store = dir.path + "/store.json", tmp = store + ".tmp";
  auto stored = [&] { return e2e::run({"/bin/cat", store}).out; };
  e2e::Daemon d({"--store", store});
  e2e::RawClient a(d.socket()), b(d.socket());
  EXPECT_EQ(a.status(17, {}, "/"), "ERR Not logged in");
  ASSERT_EQ(a.login(e2e::user()), "OK");
  EXPECT_EQ(a.status(11, {}, "/system", {}, "hostname", "changed"), "OK");
  ASSERT_EQ(b.login(e2e::user(), true), "OK");
  EXPECT_TRUE(a.closed_within(5000));
  EXPECT_EQ(b.call(15, {}, "/system", {}, "hostname").reply, "velmar");
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
  EXPECT_EQ(c.status(17, {}, "/status/interfaces/eth1"),
            "ERR No such file or directory");
  // A folder in the way of the temporary file fails a write even for root:
  // the change stays, a retry saves it; lost at logout, it is written out.
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(c.status(11, {}, "/system", {}, "hostname", "first-host"), "OK");
  EXPECT_EQ(c.status(13).rfind("ERR ", 0), 0u);
  ASSERT_EQ(rmdir(tmp.c_str()), 0);
  EXPECT_EQ(c.status(13), "OK");
  EXPECT_NE(stored().find("\"first-host\""), std::string::npos);
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(c.status(11, {}, "/system", {}, "location", "a \"b\" c\\d =/x"),
            "OK");
  EXPECT_EQ(c.status(13).rfind("ERR ", 0), 0u);
  EXPECT_EQ(c.status(23), "OK");
  std::string saved;  // where the lines of the lost commit went
  for (const auto &e : std::filesystem::directory_iterator(dir.path))
    if (e.path().string().find(".unsaved-") != std::string::npos)
      saved = e.path().string();
  ASSERT_EQ(rmdir(tmp.c_str()), 0);
  auto r = e2e::run({"cli", "-C", "-T", "-s", d.socket(), "-f", saved}, "",
                    {"CLI_USER=" + e2e::user()});
  EXPECT_EQ(r.exit_code(), 0) << saved << r.out << r.err << d.log();
  EXPECT_NE(stored().find(R"("a \"b\" c\\d =/x")"), std::string::npos);
}

// Another daemon on the socket, a model or store it cannot read, TCP
// without TLS but on loopback stop the start, naming the place; a torn
// temporary store file goes.
TEST(VorndE2e, StartUpFiles) {
  e2e::Daemon d;
  std::string model = d.dir() + "/bad.json", store = d.dir() + "/store.json";
  std::ofstream(model) << "{\"nodes\": [\n{\"name\": \"a\"},\n{\"name\": }]}";
  std::ofstream(store + ".tmp") << "{\"version\":1,\"ro";
  std::ofstream(store) << "{\"version\":1,\"root\":{\"kids\":[{";
  std::pair<std::vector<std::string>, std::string> rows[] = {
      {{}, "another daemon answers"},
      {{"--model", model}, model + ":3: "},
      {{"--store", store}, "--reset-bad-store"},
      {{"--listen", "127.0.0.1:1"}, "--listen needs --tls-cert FILE"},
      {{"--listen", ":1", "--plain-tcp-loopback"}, "on 127.0.0.1 and ::1"},
      {{"--listen", ":1", "--tls-cert", model, "--tls-key", model}, model}};
  for (auto &[args, want] : rows) {
    args.insert(args.begin(), {"vornd", "--socket", d.socket()});
    e2e::RunResult bad = e2e::run(args);
    EXPECT_NE(bad.exit_code(), 0);
    EXPECT_NE(bad.err.find(want), std::string::npos) << bad.err;
  }
  EXPECT_TRUE(e2e::exited_with(d.signal(SIGTERM), 0));
  EXPECT_EQ(access(d.socket().c_str(), F_OK), -1) << "socket file left behind";
  EXPECT_EQ(access((store + ".tmp").c_str(), F_OK), -1) << "temp file kept";
  e2e::Daemon reset({"--store", store, "--reset-bad-store"});
  e2e::RawClient c(reset.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  EXPECT_EQ(c.call(15, {}, "/system", {}, "hostname").reply, "velmar");
  EXPECT_EQ(access(store.c_str(), F_OK), -1);
  auto files = std::filesystem::directory_iterator(d.dir());
  EXPECT_EQ(
      1, std::count_if(begin(files), end(files), [](auto &e) {
        return e.path().filename().string().starts_with("store.json.bad-");
      }));
}

// Broken input closes only its connection. A 12 MiB reply meets full socket
// buffers: vornd keeps the rest and sends it whole.
TEST(VorndE2e, BrokenInputAndAReplyLargerThanTheSocketBuffers) {
  e2e::TempDir dir;
  std::ofstream(dir.path + "/big.json") << R"({"nodes": [{"name": "box",
    "children": [{"name": "blob", "type": "string"}]}]})";
  e2e::Daemon d({"--model", dir.path + "/big.json"});
  e2e::RawClient c(d.socket());
  ASSERT_EQ(c.login(e2e::user()), "OK");
  uint32_t over = wire::kMaxFrame + 1;
  // Rows: greeted first?, then the bytes.
  std::pair<bool, std::string> rows[] = {
      {false, "GET / HTTP/1.0\r\n\r\n"},
      {true, {char(over >> 24), char(over >> 16), char(over >> 8), char(over)}},
      {true, std::string("\x00\x00\x00\x03\x01\xff\xff", 7)}};  // cut
  for (const auto &[greet, bytes] : rows) {
    e2e::RawClient bad(d.socket(), greet);
    bad.send_raw(bytes);
    EXPECT_TRUE(bad.closed_within(5000)) << bytes;
  }
  std::string big = "first" + std::string(12 << 20, 'z');
  ASSERT_EQ(c.status(11, {}, "/box", {}, "blob", big), "OK");
  wire::Reply r = c.call(15, {}, "/box", {}, "blob");
  EXPECT_TRUE(r.status == "OK" && r.reply == big)
      << r.reply.value_or("").size();
}

}  // namespace
