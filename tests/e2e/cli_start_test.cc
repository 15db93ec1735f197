// The cli program's start-up and login, run for real against vornd.
//
// The greeting tests need a message-of-the-day file at the shipped path
// /etc/zarcli/motd without touching the machine's /etc and without any
// test-only switch in the program: each such run happens in a private mount
// namespace (unshare -m, which needs root as in CI) where a read-only
// overlay puts a test folder holding zarcli/motd on top of /etc.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/daemon.h"
#include "support/pty.h"
#include "support/run.h"
#include "vornal.h"

namespace e2e {
namespace {

const std::string banner = "Velmar CLI 3.0 (2013-04-12T14:54-0700)\n";
const std::string usage =
    "Options:\n"
    "-C\t\tCommit unsaved changes by default when exiting.\n"
    "-F\t\tStart session even if another session is active (terminating "
    "the other session).\n"
    "-h\t\tHelp (this message).\n"
    "-q\t\tQuiet mode; don't show the startup greeting.\n"
    "-D\t\tDebug messages sent to and received from vornd.\n"
    "-T\t\tDisable sending no-ops (same as -t 0).\n"
    "-v\t\tShow CLI version.\n"
    "-f [file]\tRead commands from [file] (use - for stdin).\n"
    "-s [server]\tSpecify an alternative vornd to connect to.\n"
    "-t [timeout]\tTime between sending no-ops (default 1 seconds).\n"
    "\t\tThese are used to monitor the connection status.\n";
const std::string usage_root = usage + "-U [username]\tUsername\n";
const std::string takeover_question =
    "There is an existing session. Would you like to kill it (this will log "
    "someone else out)? y/N";
const uid_t nobody = 65534;

// crypt(3) SHA-512 hash of "secret".
const std::string secret_hash =
    "$6$velmarsalt$RjBcVkCehDGAlc727Id/GW3MJDhPZcKyQICE.lKXCrwsBkUZKMThf6ZpHUA7"
    "WMVEbUamZr/nii3CwefbcG70t1";

RunResult run_cli(const std::vector<std::string> &args,
                  const std::vector<std::string> &env = {},
                  const std::string &input = "", uid_t uid = (uid_t)-1) {
  RunRequest req;
  req.program = bin_path("cli");
  req.argv = {"cli"};
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.env = env;
  req.input = input;
  req.uid = uid;
  return run(req);
}

// Returns true once something accepts TCP connections on 127.0.0.1:port.
bool wait_for_port(int port) {
  for (int i = 0; i < 500; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A vornd that also listens on TCP and knows user "root" with password
// "secret".
struct TcpDaemon {
  explicit TcpDaemon(const std::string &users_dir)
      : port(free_port()),
        users(write_users(users_dir)),
        daemon({"--listen", "127.0.0.1:" + std::to_string(port), "--users",
                users}) {
    EXPECT_TRUE(wait_for_port(port)) << daemon.log();
  }
  static std::string write_users(const std::string &dir) {
    std::string path = dir + "/users";
    std::ofstream(path) << "root:" << secret_hash << "\n";
    return path;
  }
  std::string server() const { return "127.0.0.1:" + std::to_string(port); }
  int port;
  std::string users;
  Daemon daemon;
};

// A private folder removed at the end of the test.
struct TempDir {
  TempDir() {
    char tmpl[] = "/tmp/cli-e2e-XXXXXX";
    path = mkdtemp(tmpl) ? tmpl : "";
    EXPECT_FALSE(path.empty());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string path;
};

// Holds the daemon's one session from this test process.
struct HeldSession {
  explicit HeldSession(const std::string &socket) {
    EXPECT_EQ(vornal_connect(socket.c_str()), VORNAL_STATE_CONNECTED);
    vornal_message *m =
        vornal_send_message(VORNAL_MSG_LOGIN, "", "", "", "root", "root");
    char *status = m ? vornal_get_message_response_status(m) : nullptr;
    EXPECT_STREQ(status, "OK");
    free(status);
    vornal_message_free(m);
  }
  ~HeldSession() { vornal_disconnect(); }
  // Returns true when the daemon ended this session within a few seconds.
  bool ended() {
    for (int i = 0; i < 300; ++i) {
      if (vornal_get_connection_state() == VORNAL_STATE_ENDED) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

// Returns argv that runs cli on the terminal inside a private mount
// namespace whose /etc also shows overlay_dir's zarcli/motd.
std::vector<std::string> in_namespace(const std::string &overlay_dir,
                                      const std::vector<std::string> &args) {
  std::vector<std::string> argv = {
      "unshare",
      "-m",
      "sh",
      "-c",
      "mount --make-rprivate / && mount -t overlay overlay -o lowerdir=" +
          overlay_dir + ":/etc /etc && exec \"$0\" \"$@\"",
      bin_path("cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Writes text as zarcli/motd below dir.
void write_motd(const std::string &dir, const std::string &text) {
  std::filesystem::create_directories(dir + "/zarcli");
  std::ofstream(dir + "/zarcli/motd", std::ios::binary) << text;
}

bool echo_is_on(const Pty &pty) {
  termios t{};
  EXPECT_EQ(tcgetattr(pty.master(), &t), 0);
  return (t.c_lflag & ECHO) != 0;
}

// Waits until the program has switched the local-mode flag off, so that
// keys typed next are not flushed or echoed by a switch still to come.
bool wait_until_off(const Pty &pty, tcflag_t flag) {
  for (int i = 0; i < 500; ++i) {
    termios t{};
    if (tcgetattr(pty.master(), &t) == 0 && !(t.c_lflag & flag)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Waits for the first prompt of an interactive session and ends it.
void leave_at_prompt(Pty &pty) {
  EXPECT_TRUE(pty.expect("cli -> ")) << pty.output();
  pty.send("exit\r");
}

TEST(CliStart, BannerAndUsageAsRootAndAsAnotherUser) {
  RunResult v = run_cli({"-V", "-x"});
  EXPECT_EQ(v.out, banner);
  EXPECT_EQ(v.err, "");
  EXPECT_EQ(v.exit_code(), 0);

  // The usage shows the built-in no-op period, not the one given.
  RunResult h = run_cli({"-t", "9", "-h"});
  EXPECT_EQ(h.out, banner);
  EXPECT_EQ(h.err, usage_root);
  EXPECT_EQ(h.exit_code(), 0);

  RunResult plain = run_cli({"-h"}, {}, "", nobody);
  EXPECT_EQ(plain.out, banner);
  EXPECT_EQ(plain.err, usage);
  EXPECT_EQ(plain.exit_code(), 0);
}

TEST(CliStart, OptionErrorsEndWithMinusOne) {
  RunResult q = run_cli({"-?"});
  EXPECT_EQ(q.out, banner);
  EXPECT_EQ(q.err, usage_root);
  EXPECT_EQ(q.exit_code(), 255);

  // -v is not the version option: getopt complains first.
  RunResult v = run_cli({"-v"});
  EXPECT_EQ(v.out, banner);
  EXPECT_EQ(v.err, "cli: invalid option -- 'v'\n" + usage_root);
  EXPECT_EQ(v.exit_code(), 255);

  RunResult t = run_cli({"-t"}, {}, "", nobody);
  EXPECT_EQ(t.err, "cli: option requires an argument -- 't'\n" + usage);
  EXPECT_EQ(t.exit_code(), 255);

  RunResult c = run_cli({"-c", "x"});
  EXPECT_EQ(c.out, "Unrecognised option: c.\n");
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(c.exit_code(), 255);
}

TEST(CliStart, ConnectFailureEndsWithTheLibraryCode) {
  TempDir dir;
  std::string server = dir.path + "/nothing.sock";
  RunResult r = run_cli({"-s", server});
  EXPECT_EQ(r.out, "Connection to " + server + " failed - " +
                       vornal_conn_error(VORNAL_ERR_UNAVAILABLE) + "\n");
  EXPECT_EQ(r.exit_code(), VORNAL_ERR_UNAVAILABLE);
}

TEST(CliStart, ChecksBeforeConnecting) {
  // Both runs name a server that does not exist: reaching the connect would
  // print its failure instead.
  TempDir dir;
  std::string server = dir.path + "/nothing.sock";
  std::string missing = dir.path + "/missing.txt";
  RunResult f = run_cli({"-s", server, "-f", missing});
  EXPECT_EQ(f.out,
            "cli: cannot open " + missing + ": No such file or directory\n");
  EXPECT_EQ(f.exit_code(), 66);

  // A user id without a password-database entry and no CLI_USER.
  RunResult u = run_cli({"-s", server}, {}, "", 54321);
  EXPECT_EQ(u.out, "cli: cannot determine the user name; use -U or CLI_USER\n");
  EXPECT_EQ(u.exit_code(), 67);
  // -U supplies it, so the run gets as far as connecting.
  RunResult with_u = run_cli({"-s", server, "-U", "nobody"}, {}, "", 54321);
  EXPECT_EQ(with_u.out.rfind("Connection to " + server + " failed - ", 0), 0u)
      << with_u.out;
}

TEST(CliStart, PlainLoginEndsTheSessionItStarted) {
  Daemon d;
  RunResult r = run_cli({"-s", d.socket(), "-T"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code(), 0) << d.log();
  EXPECT_NE(d.log().find("session of root ended (logout)"), std::string::npos)
      << d.log();
  // -D: the library traces the login and the logout.
  RunResult traced = run_cli({"-s", d.socket(), "-D"});
  EXPECT_EQ(traced.exit_code(), 0);
  EXPECT_NE(traced.err.find(" type 20 ("), std::string::npos) << traced.err;
  EXPECT_NE(traced.err.find(" type 23 ("), std::string::npos) << traced.err;
  // Command words and -f - take the same road without a terminal.
  EXPECT_EQ(run_cli({"-s", d.socket(), "list", "network"}).exit_code(), 0);
  EXPECT_EQ(run_cli({"-s", d.socket(), "-f", "-"}, {}, "list\n").exit_code(),
            0);
  // The session was given back: a new login is not refused as in use.
  HeldSession held(d.socket());
}

TEST(CliStart, SessionInUse) {
  Daemon d;
  HeldSession held(d.socket());
  RunResult r = run_cli({"-s", d.socket()});
  EXPECT_EQ(r.out, "Vorn in use and login not forced.\n");
  EXPECT_EQ(r.exit_code(), 1);
  EXPECT_FALSE(held.ended());

  RunResult forced = run_cli({"-s", d.socket(), "-F"});
  EXPECT_EQ(forced.out, "");
  EXPECT_EQ(forced.exit_code(), 0);
  EXPECT_TRUE(held.ended());
}

TEST(CliStart, PasswordFromTheEnvironmentOverTcp) {
  TempDir dir;
  TcpDaemon d(dir.path);
  RunResult wrong = run_cli({"-s", d.server()}, {"CLI_PASSWORD=guess"});
  EXPECT_EQ(wrong.out, "Authentication details were not accepted.\n");
  EXPECT_EQ(wrong.exit_code(), 2);

  // No terminal: no prompt and no warning.
  RunResult right = run_cli({"-s", d.server()}, {"CLI_PASSWORD=secret"});
  EXPECT_EQ(right.out, "");
  EXPECT_EQ(right.err, "");
  EXPECT_EQ(right.exit_code(), 0) << d.daemon.log();
}

TEST(CliStart, PasswordPromptOnATerminal) {
  TempDir dir;
  TcpDaemon d(dir.path);
  {
    Pty pty(bin_path("cli"), {"cli", "-q", "-s", d.server()});
    ASSERT_TRUE(pty.expect("Password:")) << pty.output();
    ASSERT_TRUE(wait_until_off(pty, ECHO));
    pty.send("secret\n");
    leave_at_prompt(pty);
    int st = pty.wait();
    ASSERT_TRUE(WIFEXITED(st)) << pty.output();
    EXPECT_EQ(WEXITSTATUS(st), 0) << pty.output();
    EXPECT_EQ(pty.output().find("secret"), std::string::npos);
    EXPECT_TRUE(echo_is_on(pty));
  }
  {
    Pty pty(bin_path("cli"), {"cli", "-q", "-s", d.server()});
    ASSERT_TRUE(pty.expect("Password:")) << pty.output();
    ASSERT_TRUE(wait_until_off(pty, ECHO));
    pty.send("guess\n");
    EXPECT_TRUE(pty.expect("Authentication details were not accepted.\r\n"));
    int st = pty.wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 2) << pty.output();
  }
}

TEST(CliStart, InterruptAtThePasswordPromptRestoresTheTerminal) {
  TempDir dir;
  TcpDaemon d(dir.path);
  Pty pty(bin_path("cli"), {"cli", "-q", "-s", d.server()});
  ASSERT_TRUE(pty.expect("Password:")) << pty.output();
  ASSERT_TRUE(wait_until_off(pty, ECHO));
  pty.send("sec\x03");
  EXPECT_TRUE(pty.expect("\r\nBye!\r\n")) << pty.output();
  int st = pty.wait();
  ASSERT_TRUE(WIFSIGNALED(st)) << pty.output();
  EXPECT_EQ(WTERMSIG(st), SIGINT);
  EXPECT_TRUE(echo_is_on(pty));
}

TEST(CliStart, TakeoverQuestionOnATerminal) {
  Daemon d;
  HeldSession held(d.socket());
  {
    Pty pty(bin_path("cli"), {"cli", "-q", "-s", d.socket()});
    ASSERT_TRUE(pty.expect(takeover_question + "\r\n")) << pty.output();
    ASSERT_TRUE(wait_until_off(pty, ICANON));
    pty.send("n");
    int st = pty.wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << pty.output();
    // The key is not echoed and nothing follows it.
    EXPECT_TRUE(pty.output().ends_with(takeover_question + "\r\n"))
        << pty.output();
    EXPECT_FALSE(held.ended());
  }
  {
    Pty pty(bin_path("cli"), {"cli", "-q", "-s", d.socket()});
    ASSERT_TRUE(pty.expect(takeover_question + "\r\n")) << pty.output();
    ASSERT_TRUE(wait_until_off(pty, ICANON));
    pty.send("Y");
    leave_at_prompt(pty);
    int st = pty.wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << pty.output();
    EXPECT_TRUE(held.ended());
  }
}

TEST(CliStart, GreetingOnATerminal) {
  Daemon d;
  TempDir dir;
  const std::string motd = "Welcome to the test device.\n";
  write_motd(dir.path, motd);
  {
    Pty pty("/usr/bin/unshare", in_namespace(dir.path, {"-s", d.socket()}),
            {"CLI_PASSWORD=unused"});
    leave_at_prompt(pty);
    int st = pty.wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << pty.output();
    EXPECT_EQ(without_cr(pty.output())
                  .rfind(banner + "Attempting to connect to " + d.socket() +
                             " as root.\n" + motd +
                             "\nWARNING: Using the CLI_PASSWORD environmental "
                             "variable is insecure.\n",
                         0),
              0u)
        << pty.output();
  }
  {
    Pty pty("/usr/bin/unshare",
            in_namespace(dir.path, {"-q", "-s", d.socket()}),
            {"CLI_PASSWORD=unused"});
    leave_at_prompt(pty);
    int st = pty.wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << pty.output();
    // Nothing before the first prompt.
    EXPECT_EQ(pty.output().find("cli -> "), pty.output().find("cli"))
        << pty.output();
    EXPECT_EQ(pty.output().find("Velmar"), std::string::npos);
  }
  {
    // The built-in server: no "Attempting" line (the connect then fails,
    // after the greeting).
    Pty pty("/usr/bin/unshare", in_namespace(dir.path, {}));
    pty.wait();
    EXPECT_EQ(without_cr(pty.output())
                  .rfind(banner + motd +
                             "Connection to "
                             "/dev/vornd "
                             "failed",
                         0),
              0u)
        << pty.output();
  }
}

TEST(CliStart, NoGreetingWhenCommandsDoNotComeFromTheTerminal) {
  Daemon d;
  for (std::vector<std::string> args :
       {std::vector<std::string>{"list"}, {"-f", "-"}}) {
    args.insert(args.begin(), {"cli", "-s", d.socket()});
    Pty pty(bin_path("cli"), args, {"CLI_PASSWORD=unused"});
    if (args.back() == "-") pty.send("\x04");  // end of the script
    int st = pty.wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << pty.output();
    // Only what the command itself prints: the top-level listing.
    EXPECT_EQ(pty.output().find("Velmar"), std::string::npos) << args.back();
    EXPECT_EQ(
        pty.output(),
        args.back() == "-"
            ? ""
            : "  system\r\n  network\r\n  services\r\n  users\r\n  status\r\n");
  }
}

TEST(CliStart, LargeMotdIsWrittenWhole) {
  Daemon d;
  TempDir dir;
  std::string motd;
  for (int i = 0; motd.size() < 10000; ++i)
    motd += "line " + std::to_string(i) + " of the message of the day\n";
  write_motd(dir.path, motd);
  Pty pty("/usr/bin/unshare", in_namespace(dir.path, {"-s", d.socket()}));
  leave_at_prompt(pty);
  int st = pty.wait();
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << pty.output();
  EXPECT_EQ(without_cr(pty.output())
                .rfind(banner + "Attempting to connect to " + d.socket() +
                           " as root.\n" + motd,
                       0),
            0u);
}

}  // namespace
}  // namespace e2e
