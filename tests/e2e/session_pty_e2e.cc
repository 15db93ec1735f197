// The interactive loop on a real terminal against the real vornd: exit,
// ctrl-c, ctrl-D, a lost, taken-over or hung connection and reconnection.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/daemon.h"
#include "support/pty.h"
#include "support/run.h"

namespace {

const char kPrompt[] = "cli -> ";
const char kLost[] =
    "The connection to vornd has timed out or vornd has been killed.";
const char kReconnect[] = "Would you like to try to reconnect? y/N";

// Starts an interactive cli on d with extra options and waits for the
// first prompt.
struct Session {
  Session(const e2e::Daemon &d, std::vector<std::string> extra = {})
      : pty(e2e::bin_path("cli"), args(d, extra), {"CLI_USER=root"}) {
    EXPECT_TRUE(pty.expect(kPrompt)) << pty.output();
  }
  static std::vector<std::string> args(const e2e::Daemon &d,
                                       const std::vector<std::string> &extra) {
    std::vector<std::string> a = {"cli", "-q", "-s", d.socket()};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
  // Everything shown so far with "\r\n" as "\n".
  std::string screen() const { return e2e::without_cr(pty.output()); }
  e2e::Pty pty;
};

// Returns true when status says the program exited with code.
bool exited_with(int status, int code) {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

TEST(Interactive, UnknownWordListsTheCommandsAndExitEnds) {
  e2e::Daemon d;
  Session s(d);
  s.pty.send("frob\r");
  EXPECT_TRUE(s.pty.expect("Valid commands are:")) << s.screen();
  EXPECT_TRUE(s.pty.expect("bye is an alias for exit."));
  EXPECT_TRUE(s.pty.expect(kPrompt));
  s.pty.send("exit\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
  EXPECT_EQ(s.screen().find("No autocommit"), std::string::npos);
}

TEST(Interactive, CtrlDAndEmptyLinesPromptAgainAndExitBangEnds) {
  e2e::Daemon d;
  Session s(d);
  s.pty.send("\x04");
  EXPECT_TRUE(s.pty.expect(kPrompt)) << s.screen();
  s.pty.send("\r");
  EXPECT_TRUE(s.pty.expect(kPrompt)) << s.screen();
  s.pty.send("quit!\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
}

TEST(Interactive, CtrlCWithoutChangesSaysByeAndEndsBySigint) {
  e2e::Daemon d;
  Session s(d);
  s.pty.send("some typing\x03");
  EXPECT_TRUE(s.pty.expect("\nBye!")) << s.screen();
  int st = s.pty.wait();
  ASSERT_NE(st, -1);
  EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGINT) << s.screen();
}

TEST(Interactive, KilledDaemonAskAndNoEndsWithoutCommitNotice) {
  e2e::Daemon d;
  Session s(d);
  d.signal(SIGKILL);
  EXPECT_TRUE(s.pty.expect(kLost)) << s.screen();
  EXPECT_TRUE(s.pty.expect(kReconnect));
  s.pty.send("n");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
  EXPECT_EQ(s.screen().find("No autocommit"), std::string::npos);
}

TEST(Interactive, RestartedDaemonAndYesGoesOn) {
  e2e::Daemon d;
  Session s(d);
  s.pty.send("half a li");
  d.signal(SIGKILL);
  EXPECT_TRUE(s.pty.expect(kReconnect)) << s.screen();
  d.restart();
  s.pty.send("y");
  EXPECT_TRUE(s.pty.expect(kPrompt)) << s.screen();
  // The line typed before the loss was dropped, not run.
  EXPECT_EQ(s.screen().find("Valid commands"), std::string::npos);
  s.pty.send("frob\r");
  EXPECT_TRUE(s.pty.expect("Valid commands are:")) << s.screen();
  s.pty.send("exit\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
}

TEST(Interactive, ForcedLoginElsewhereLogsUsOut) {
  e2e::Daemon d;
  Session s(d);
  e2e::RunSpec other;
  other.program = e2e::bin_path("cli");
  other.argv = {"cli", "-T", "-F", "-s", d.socket(), "frob"};
  other.env = {"CLI_USER=root"};
  e2e::RunResult r = e2e::run(other);
  EXPECT_EQ(r.exit_code(), 256 - 16) << r.out << r.err;
  EXPECT_TRUE(s.pty.expect("Another user has logged in, logging you out."))
      << s.screen();
  EXPECT_TRUE(s.pty.expect(kReconnect));
  s.pty.send("n");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
}

TEST(Interactive, StoppedDaemonGivesTheHungWarningBeforeALine) {
  e2e::Daemon d;
  // No-ops every 2 s: a reply overdue by 2 s means hung, by 6 s lost. Some
  // no-op goes out within 2 s of the stop, so 4.5 s later the state is
  // hung and not yet lost.
  Session s(d, {"-t", "2"});
  d.signal(SIGSTOP);
  usleep(4500 * 1000);
  s.pty.send("frob\r");
  EXPECT_TRUE(
      s.pty.expect("WARNING: The connection to vorn appear to be "
                   "hung.\r\nValid commands are:"))
      << s.screen();
  d.signal(SIGCONT);
  s.pty.send("exit!\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
}

}  // namespace
