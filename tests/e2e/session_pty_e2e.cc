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
  e2e::RunRequest other;
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

const char kUncommitted[] =
    "There are uncommited changes. Use exit! to exit anyway.";

// Returns how often text occurs in log.
int count(const std::string &log, const std::string &text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos;
       at = log.find(text, at + 1))
    ++n;
  return n;
}

// Makes one change at /system and waits for the prompt there.
void change_hostname(Session &s, const std::string &value) {
  s.pty.send("cd system\r");
  EXPECT_TRUE(s.pty.expect("system -> ")) << s.screen();
  s.pty.send("set hostname=" + value + "\r");
  EXPECT_TRUE(s.pty.expect("Set hostname: OK")) << s.screen();
  EXPECT_TRUE(s.pty.expect("system -> ")) << s.screen();
}

TEST(Interactive, ExitWithChangesRefusesAndExitBangDiscards) {
  e2e::Daemon d;
  Session s(d);
  change_hostname(s, "gw");
  s.pty.send("exit\r");
  EXPECT_TRUE(s.pty.expect(kUncommitted)) << s.screen();
  EXPECT_TRUE(s.pty.expect("system -> ")) << "the session goes on";
  s.pty.send("exit!\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
  EXPECT_EQ(s.screen().find("No autocommit"), std::string::npos);
  EXPECT_EQ(count(d.log(), "commit by"), 0) << d.log();
}

TEST(Interactive, ExitWithAutocommitCommitsTwiceAndSaysSoOnce) {
  e2e::Daemon d;
  Session s(d, {"-C"});
  change_hostname(s, "gw");
  s.pty.send("quit\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
  EXPECT_EQ(count(s.screen(), "Changes committed.\n"), 1) << s.screen();
  EXPECT_EQ(count(d.log(), "commit by root"), 2) << d.log();
}

TEST(Interactive, CtrlCWithChangesWarnsOnceThenEnds) {
  e2e::Daemon d;
  Session s(d);
  change_hostname(s, "gw");
  // The terminal drops unread keys on ctrl-c: wait until they are shown.
  s.pty.send("get host");
  EXPECT_TRUE(s.pty.expect("get host")) << s.screen();
  s.pty.send("\x03");
  EXPECT_TRUE(s.pty.expect(
      "\r\nThere are uncommited changes. Press ctl-c again exit anyway."))
      << s.screen();
  // The line typed so far stays in the editor, drawn again.
  EXPECT_TRUE(s.pty.expect("system -> get host")) << s.screen();
  s.pty.send("\x03");
  EXPECT_TRUE(s.pty.expect("\r\nBye!")) << s.screen();
  int st = s.pty.wait();
  ASSERT_NE(st, -1);
  EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGINT) << s.screen();
  EXPECT_EQ(count(d.log(), "commit by"), 0) << d.log();
}

TEST(Interactive, ReconnectReturnsToTheBranchAndReplaysTheJournal) {
  e2e::Daemon d;
  Session s(d);
  change_hostname(s, "gw");
  d.signal(SIGKILL);
  EXPECT_TRUE(s.pty.expect(kLost)) << s.screen();
  EXPECT_TRUE(s.pty.expect(kReconnect));
  d.restart();
  s.pty.send("y");
  EXPECT_TRUE(
      s.pty.expect("Would you like to replay uncommitted modifications? y/N"))
      << s.screen();
  s.pty.send("y");
  EXPECT_TRUE(s.pty.expect("\r\nReplaying: cd system\r\n")) << s.screen();
  EXPECT_TRUE(s.pty.expect("\r\nReplaying: set hostname=gw\r\n"));
  EXPECT_TRUE(s.pty.expect("Set hostname: OK"));
  EXPECT_TRUE(s.pty.expect("system -> ")) << "back on the same branch";
  s.pty.send("get hostname\r");
  EXPECT_TRUE(s.pty.expect("Get hostname: gw")) << s.screen();
  // The replay set the change flag again, and the journal still holds both
  // lines: exit refuses.
  s.pty.send("exit\r");
  EXPECT_TRUE(s.pty.expect(kUncommitted)) << s.screen();
  s.pty.send("quit!\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
}

TEST(Interactive, DeclinedReplayLeavesNoChangesToExitFor) {
  e2e::Daemon d;
  Session s(d);
  change_hostname(s, "gw");
  d.signal(SIGKILL);
  EXPECT_TRUE(s.pty.expect(kReconnect)) << s.screen();
  d.restart();
  s.pty.send("y");
  EXPECT_TRUE(s.pty.expect("replay uncommitted modifications? y/N"));
  s.pty.send("n");
  EXPECT_TRUE(s.pty.expect("system -> ")) << s.screen();
  s.pty.send("get hostname\r");
  EXPECT_TRUE(s.pty.expect("Get hostname: velmar")) << "nothing replayed";
  s.pty.send("exit\r");
  EXPECT_TRUE(exited_with(s.pty.wait(), 0)) << s.screen();
  EXPECT_EQ(s.screen().find("Replaying"), std::string::npos);
}

}  // namespace
