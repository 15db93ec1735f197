// The cli program's login and greeting, run for real against vornd; the
// option texts and exit codes are in transcripts/startup.txt.
//
// The greeting tests need a message-of-the-day file at the shipped path
// /etc/zarcli/motd without touching the machine's /etc and without any
// test-only switch in the program: each such run happens in a private mount
// namespace (unshare -m, which needs root as in CI) where a read-only
// overlay puts a test folder holding zarcli/motd on top of /etc.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/e2e.h"

namespace e2e {
namespace {

const std::string banner = "Velmar CLI 3.0 (2013-04-12T14:54-0700)\n";
const std::string takeover_question =
    "There is an existing session. Would you like to kill it (this will log "
    "someone else out)? y/N\r\n";
// crypt(3) SHA-512 hash of "secret".
const std::string secret_hash =
    "$6$velmarsalt$RjBcVkCehDGAlc727Id/GW3MJDhPZcKyQICE.lKXCrwsBkUZKMThf6ZpHUA7"
    "WMVEbUamZr/nii3CwefbcG70t1";

// Returns true when something accepts TCP connections on 127.0.0.1:port.
bool tcp_open(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A vornd that also listens on TCP and knows the user running the tests
// with password "secret".
struct TcpDaemon {
  TcpDaemon()
      : port(free_port()),
        users(write_users(dir.path)),
        daemon({"--listen", server(), "--users", users}) {
    EXPECT_TRUE(eventually([this] { return tcp_open(port); })) << daemon.log();
  }
  static std::string write_users(const std::string &dir) {
    std::ofstream(dir + "/users") << user() << ":" << secret_hash << "\n";
    return dir + "/users";
  }
  std::string server() const { return "127.0.0.1:" + std::to_string(port); }
  TempDir dir;
  int port;
  std::string users;
  Daemon daemon;
};

// Waits until the program has switched the local-mode flag off, so that
// keys typed next are not flushed or echoed by a switch still to come.
bool wait_until_off(const Pty &pty, tcflag_t flag) {
  return eventually([&] {
    termios t{};
    return tcgetattr(pty.master(), &t) == 0 && !(t.c_lflag & flag);
  });
}

bool echo_is_on(const Pty &pty) {
  termios t{};
  EXPECT_EQ(tcgetattr(pty.master(), &t), 0);
  return (t.c_lflag & ECHO) != 0;
}

// Waits for the first prompt of an interactive session, ends it and
// returns true when the program then exited with 0.
bool leave_at_prompt(Pty &pty) {
  EXPECT_TRUE(pty.expect("cli -> ")) << pty.output();
  pty.send("exit\r");
  return exited_with(pty.wait(), 0);
}

TEST(CliStart, PasswordFromTheEnvironmentOrTheTerminalOverTcp) {
  TcpDaemon d;
  // Without a terminal CLI_PASSWORD goes out with no prompt and no warning:
  // the startup transcript shows it with -D.
  for (std::string typed : {"secret", "guess", "sec\x03"}) {
    Pty pty({"cli", "-q", "-s", d.server()});
    ASSERT_TRUE(pty.expect("Password:")) << pty.output();
    ASSERT_TRUE(wait_until_off(pty, ECHO));
    pty.send(typed == "sec\x03" ? typed : typed + "\n");
    if (typed == "secret") {
      EXPECT_TRUE(leave_at_prompt(pty)) << pty.output();
      EXPECT_EQ(pty.output().find("secret"), std::string::npos);
    } else if (typed == "guess") {
      EXPECT_TRUE(pty.expect("Authentication details were not accepted.\r\n"));
      EXPECT_TRUE(exited_with(pty.wait(), 2)) << pty.output();
    } else {
      EXPECT_TRUE(pty.expect("\r\nBye!\r\n")) << pty.output();
      EXPECT_TRUE(killed_by(pty.wait(), SIGINT));
    }
    EXPECT_TRUE(echo_is_on(pty)) << typed;
  }
}

TEST(CliStart, TakeoverQuestionOnATerminal) {
  Daemon d;
  RawClient held(d.socket());  // the daemon's one session
  ASSERT_EQ(held.login(user()), "OK");
  for (const char *key : {"n", "Y"}) {
    Pty pty({"cli", "-q", "-s", d.socket()});
    ASSERT_TRUE(pty.expect(takeover_question)) << pty.output();
    ASSERT_TRUE(wait_until_off(pty, ICANON));
    pty.send(key);
    if (*key == 'n') {
      EXPECT_TRUE(exited_with(pty.wait(), 1)) << pty.output();
      // The key is not echoed and nothing follows it.
      EXPECT_TRUE(pty.output().ends_with(takeover_question)) << pty.output();
      EXPECT_EQ(held.status(15, {}, "/system", {}, "hostname"), "OK");
    } else {
      EXPECT_TRUE(leave_at_prompt(pty)) << pty.output();
      std::optional<wire::Frame> notice = held.next_frame();
      EXPECT_TRUE(notice && notice->kind == wire::Kind::notice);
    }
  }
}

// Returns argv that runs cli on the terminal inside a private mount
// namespace whose /etc also shows overlay_dir's zarcli/motd.
std::vector<std::string> in_namespace(const std::string &overlay_dir,
                                      const std::vector<std::string> &args) {
  std::vector<std::string> argv = {
      "/usr/bin/unshare",
      "-m",
      "sh",
      "-c",
      "mount --make-rprivate / && mount -t overlay overlay -o lowerdir=" +
          overlay_dir + ":/etc /etc && exec \"$0\" \"$@\"",
      bin_path("cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

TEST(CliStart, GreetingOnATerminalWritesALargeMotdWhole) {
  if (!is_root()) GTEST_SKIP() << "needs root for a private mount namespace";
  Daemon d;
  TempDir dir;
  std::string motd;
  for (int i = 0; motd.size() < 10000; ++i)
    motd += "line " + std::to_string(i) + " of the message of the day\n";
  std::filesystem::create_directories(dir.path + "/zarcli");
  std::ofstream(dir.path + "/zarcli/motd", std::ios::binary) << motd;
  {
    Pty pty(in_namespace(dir.path, {"-s", d.socket()}),
            {"CLI_PASSWORD=unused"});
    EXPECT_TRUE(leave_at_prompt(pty)) << pty.output();
    EXPECT_TRUE(without_cr(pty.output())
                    .starts_with(banner + "Attempting to connect to " +
                                 d.socket() + " as root.\n" + motd +
                                 "\nWARNING: Using the CLI_PASSWORD "
                                 "environmental variable is insecure.\n"))
        << pty.output();
  }
  {
    // -q: nothing before the first prompt.
    Pty pty(in_namespace(dir.path, {"-q", "-s", d.socket()}),
            {"CLI_PASSWORD=unused"});
    EXPECT_TRUE(leave_at_prompt(pty)) << pty.output();
    EXPECT_EQ(pty.output().find("cli -> "), pty.output().find("cli"))
        << pty.output();
    EXPECT_EQ(pty.output().find("Velmar"), std::string::npos);
  }
}

TEST(CliStart, NoGreetingWhenCommandsDoNotComeFromTheTerminal) {
  Daemon d;
  const std::vector<std::string> env = {"CLI_PASSWORD=unused"};
  Pty words({"cli", "-s", d.socket(), "list"}, env);
  EXPECT_TRUE(exited_with(words.wait(), 0)) << words.output();
  EXPECT_EQ(words.output(),
            "  system\r\n  network\r\n  services\r\n  users\r\n  status\r\n");
  Pty script({"cli", "-s", d.socket(), "-f", "-"}, env);
  script.send("\x04");  // the end of the script
  EXPECT_TRUE(exited_with(script.wait(), 0)) << script.output();
  EXPECT_EQ(script.output(), "");
}

}  // namespace
}  // namespace e2e
