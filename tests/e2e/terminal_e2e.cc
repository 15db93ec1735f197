// The interactive shell on a real terminal against the real vornd: the
// prompt, words known from the local tree, ctrl-D, ctrl-c with changes, and a
// lost or hung connection. Side effects are unit-tested on both sides: what
// vornd answers and how the shell reads it.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/e2e.h"

namespace {

const char kPrompt[] = "cli -> ";
const char kLost[] =
    "The connection to vornd has timed out or vornd has been killed.";
const char kReconnect[] = "Would you like to try to reconnect? y/N";
const char kUncommitted[] =
    "There are uncommited changes. Use exit! to exit anyway.";

// An interactive cli on d with extra options, waiting at its first prompt.
struct Session {
  Session(const e2e::Daemon &d, std::vector<std::string> extra = {})
      : pty(args(d, extra), {"CLI_USER=" + e2e::user()}) {
    EXPECT_TRUE(pty.expect(kPrompt)) << screen();
  }
  static std::vector<std::string> args(const e2e::Daemon &d,
                                       const std::vector<std::string> &extra) {
    std::vector<std::string> a = {"cli", "-q", "-s", d.socket()};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }
  // Types line and waits for the prompt that follows its output; returns
  // what appeared in between, without carriage returns and the echo left out.
  std::string type(const std::string &line, const std::string &prompt) {
    size_t from = pty.output().size();
    pty.send(line + "\r");
    EXPECT_TRUE(pty.expect(line)) << screen();
    EXPECT_TRUE(pty.expect(prompt)) << line << "\n" << screen();
    std::string seen = pty.output().substr(from);
    seen.erase(std::remove(seen.begin(), seen.end(), '\r'), seen.end());
    // Drop the terminal's mode switches around the editor.
    for (const char *mode : {"\x1b[?2004l", "\x1b[?2004h"})
      for (size_t at; (at = seen.find(mode)) != std::string::npos;)
        seen.erase(at, strlen(mode));
    size_t echo = seen.find(line + "\n");
    size_t start = echo == std::string::npos ? 0 : echo + line.size() + 1;
    size_t end = seen.rfind(prompt);
    if (end == std::string::npos || end < start) end = seen.size();
    return seen.substr(start, end - start);
  }
  // Returns true when the program then ended with exit code.
  bool ends_with_code(int code) { return e2e::exited_with(pty.wait(), code); }
  // Makes one change at /system and waits for the prompt there.
  void change_hostname() {
    type("cd system", "system -> ");
    EXPECT_EQ(type("set hostname=gw", "system -> "), "Set hostname: OK\n");
  }
  // Everything shown so far with "\r\n" as "\n".
  std::string screen() const { return e2e::without_cr(pty.output()); }
  e2e::Pty pty;
};

// Returns how often text occurs in log.
int count(const std::string &log, const std::string &text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos;
       at = log.find(text, at + 1))
    ++n;
  return n;
}

TEST(Terminal, PromptFollowsCdAndWordsComeFromTheCurrentNode) {
  e2e::Daemon d;
  Session t(d);
  EXPECT_EQ(t.type("cd", "cli -> "), "/\n");
  EXPECT_EQ(t.type("cd network/interfaces", "network/interfaces -> "), "");
  EXPECT_EQ(t.type("cd", "network/interfaces -> "), "/network/interfaces\n");
  EXPECT_EQ(t.type("cd ..", "network -> "), "");
  EXPECT_EQ(t.type("list", "network -> "),
            "network\n  interfaces\n  dns\n  gateway\n  routes\n");
  EXPECT_EQ(t.type("cd /system", "system -> "), "");
  EXPECT_EQ(t.type("get hostname timezone", "system -> "),
            "Get hostname: velmar\nGet timezone: UTC\n");
  EXPECT_EQ(t.type("set hostname=box contact=me", "system -> "),
            "Set hostname: OK\nSet contact: OK\n");
  // A bare name resets the parameter to the model's default.
  EXPECT_EQ(t.type("set hostname", "system -> "), "Set hostname: OK\n");
  EXPECT_EQ(t.type("get hostname contact", "system -> "),
            "Get hostname: velmar\nGet contact: me\n");
  EXPECT_EQ(t.type("cd /", "cli -> "), "");
  t.pty.send("exit!\r");
  EXPECT_TRUE(t.ends_with_code(0)) << t.screen();
}

TEST(Terminal, CommitRevertAndCdWithoutWithAndWithTooManyArguments) {
  e2e::Daemon d;
  Session t(d);
  // ctrl-D and an empty line only prompt again.
  t.pty.send("\x04");
  EXPECT_TRUE(t.pty.expect(kPrompt)) << t.screen();
  t.pty.send("\r");
  EXPECT_TRUE(t.pty.expect(kPrompt)) << t.screen();
  const std::string word2 =
      "Parse error: Word 2 (now) is not what was expected. (Expecting "
      "option).\n";
  EXPECT_EQ(t.type("cd /system /network", "cli -> "),
            "Parse error: Word 3 (/network) is not what was expected. (Got "
            "path, expecting nothing).\n");
  EXPECT_EQ(t.type("commit", "cli -> "), "No changes to commit.\n");
  EXPECT_EQ(t.type("revert", "cli -> "), "Nothing to revert.\n");
  t.change_hostname();
  EXPECT_EQ(t.type("commit now", "system -> "), word2);
  EXPECT_EQ(t.type("revert now", "system -> "), word2);
  EXPECT_EQ(t.type("commit", "system -> "), "Changes committed.\n");
  EXPECT_EQ(count(d.log(), "commit by " + e2e::user()), 1) << d.log();
  EXPECT_EQ(t.type("set hostname=other", "system -> "), "Set hostname: OK\n");
  EXPECT_EQ(t.type("revert", "system -> "), "");
  EXPECT_EQ(t.type("get hostname", "system -> "), "Get hostname: gw\n");
  EXPECT_EQ(t.type("exit now", "system -> "), word2);
  t.pty.send("exit\r");
  EXPECT_TRUE(t.ends_with_code(0)) << t.screen();
  EXPECT_EQ(t.screen().find("No autocommit"), std::string::npos);
}

// Side effects against the demo model: enabling the VPN reveals
// /status/vpn, which only the refresh after the set brings into the tree.
TEST(Terminal, SideEffectOfASetShowsInTheNextListing) {
  e2e::Daemon d;
  Session t(d);
  const std::string before = "status\n  uptime\n  firmware\n  interfaces\n";
  EXPECT_EQ(t.type("list /status", "cli -> "), before);
  EXPECT_EQ(t.type("set /services/vpn enabled=true", "cli -> "),
            "Set enabled: OK\n");
  EXPECT_EQ(t.type("list /status", "cli -> "), before + "  vpn\n");
  EXPECT_EQ(t.type("showr /status/vpn", "cli -> "),
            "vpn\n  state=connecting\n  peer-address=\n  bytes-in=0\n");
  EXPECT_EQ(t.type("set /services/vpn enabled=false", "cli -> "),
            "Set enabled: OK\n");
  EXPECT_EQ(t.type("list /status", "cli -> "), before);
  t.pty.send("exit!\r");
  EXPECT_TRUE(t.ends_with_code(0)) << t.screen();
}

TEST(Terminal, CtrlCWithChangesWarnsOnceThenEnds) {
  e2e::Daemon d;
  Session s(d);
  s.change_hostname();
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
  EXPECT_TRUE(e2e::killed_by(s.pty.wait(), SIGINT)) << s.screen();
  EXPECT_EQ(count(d.log(), "commit by"), 0) << d.log();
}

TEST(Terminal, ClosedTerminalWithoutHangupEndsAndLogsOut) {
  e2e::Daemon d;
  // Ignored from the start, the hangup signal cannot end the shell: only
  // noticing the closed terminal can.
  signal(SIGHUP, SIG_IGN);
  Session s(d);
  signal(SIGHUP, SIG_DFL);
  s.change_hostname();
  s.pty.hang_up();
  EXPECT_TRUE(e2e::exited_with(s.pty.wait(2000), 0)) << s.screen();
  EXPECT_EQ(count(d.log(), "(logout)"), 1) << d.log();
  EXPECT_EQ(count(d.log(), "commit by"), 0) << d.log();
  e2e::RawClient next(d.socket());
  EXPECT_EQ(next.login(e2e::user()), "OK");
}

TEST(Terminal, CtrlCIsHeardWhileACommandWaitsForAStoppedDaemon) {
  for (bool changes : {true, false}) {
    e2e::Daemon d;
    // No keep-alive: the stopped daemon must not be declared lost.
    Session s(d, {"-t", "0"});
    if (changes) s.change_hostname();
    d.signal(SIGSTOP);
    s.pty.send("get /system hostname\r");
    EXPECT_TRUE(s.pty.expect("get /system hostname")) << s.screen();
    s.pty.send("\x03");
    if (changes) {
      EXPECT_TRUE(s.pty.expect(
          "There are uncommited changes. Press ctl-c again exit anyway.", 2000))
          << s.screen();
      d.signal(SIGCONT);
      EXPECT_TRUE(s.pty.expect("Get hostname: gw\r\n")) << s.screen();
      EXPECT_TRUE(s.pty.expect("system -> ")) << s.screen();
      s.pty.send("exit!\r");
      EXPECT_TRUE(s.ends_with_code(0)) << s.screen();
    } else {
      EXPECT_TRUE(s.pty.expect("\r\nBye!", 2000)) << s.screen();
      EXPECT_TRUE(e2e::killed_by(s.pty.wait(2000), SIGINT)) << s.screen();
      d.signal(SIGCONT);
    }
  }
}

TEST(Terminal, ReconnectDropsTheHalfLineAndReplaysTheJournalOnlyOnYes) {
  for (bool yes : {true, false}) {
    e2e::Daemon d;
    Session s(d);
    s.change_hostname();
    s.pty.send("half a li");
    d.signal(SIGKILL);
    EXPECT_TRUE(s.pty.expect(kLost)) << s.screen();
    EXPECT_TRUE(s.pty.expect(kReconnect));
    d.restart();
    s.pty.send("y");
    EXPECT_TRUE(
        s.pty.expect("Would you like to replay uncommitted modifications? y/N"))
        << s.screen();
    s.pty.send(yes ? "y" : "n");
    if (yes) {
      EXPECT_TRUE(s.pty.expect("\r\nReplaying: cd system\r\n")) << s.screen();
      EXPECT_TRUE(s.pty.expect("\r\nReplaying: set hostname=gw\r\n"));
      EXPECT_TRUE(s.pty.expect("Set hostname: OK"));
    }
    EXPECT_TRUE(s.pty.expect("system -> ")) << "back on the same branch";
    EXPECT_EQ(s.type("get hostname", "system -> "),
              yes ? "Get hostname: gw\n" : "Get hostname: velmar\n");
    EXPECT_EQ(s.screen().find("Valid commands"), std::string::npos)
        << "the half line ran";
    // Only the replay sets the change flag again: exit refuses.
    if (yes) {
      EXPECT_EQ(s.type("exit", "system -> "), std::string(kUncommitted) + "\n");
    }
    s.pty.send(yes ? "quit!\r" : "exit\r");
    EXPECT_TRUE(s.ends_with_code(0)) << s.screen();
    EXPECT_EQ(s.screen().find("Replaying") == std::string::npos, !yes);
  }
}

TEST(Terminal, StoppedDaemonGivesTheHungWarningBeforeALine) {
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
  EXPECT_TRUE(s.ends_with_code(0)) << s.screen();
}

// Undone creates, a side effect, deleting where one stands, a renamed
// entry in its place, and all of it again after a replay.
TEST(Terminal, StructureChangesKeepTheLocalTreeAndReplayAfterAKilledDaemon) {
  e2e::Daemon d;
  Session s(d);
  const std::string at = "network/interfaces -> ";
  s.type("cd /network/interfaces/eth1", "network/interfaces/eth1 -> ");
  EXPECT_EQ(s.type("delete /network/interfaces/eth1", at), "Delete: OK\n");
  EXPECT_EQ(s.type("create ./eth5 mtu=1400 bogus", at),
            "Create: OK\nParse error: Word 4 (bogus) is not what was "
            "expected. (Expecting parameter).\n");
  EXPECT_EQ(s.type("create ./eth5 mtu=1", at),
            "Create: OK\nSet mtu: ERR sanity check failed\n");
  EXPECT_EQ(s.type("create ./eth6 mtu=1300", at), "Create: OK\nSet mtu: OK\n");
  EXPECT_EQ(s.type("rename eth0 lan\\/0", at), "Rename: OK.\n");
  EXPECT_EQ(s.type("list /status/interfaces", at),
            "interfaces\n  lan/0\n  eth6\n");
  std::string before = s.type("showr /network", at);
  d.signal(SIGKILL);
  EXPECT_TRUE(s.pty.expect(kReconnect)) << s.screen();
  d.restart();
  s.pty.send("y");
  EXPECT_TRUE(s.pty.expect("replay uncommitted modifications? y/N"));
  s.pty.send("y");
  EXPECT_TRUE(s.pty.expect(at)) << s.screen();
  EXPECT_EQ(s.type("showr /network", at), before);
  s.pty.send("exit!\r");
  EXPECT_TRUE(s.ends_with_code(0)) << s.screen();
}

// Paths typed from the root and relative ones leave the local tree as a
// script leaves the daemon's.
TEST(Terminal, StructurePathsFromTheRootRelativeAndInScriptsAgree) {
  const std::vector<std::string> lines = {
      "create /users/\"J Doe\"", "create /users/50%", "create /users/list",
      "rename /users/operator op\\/1", "delete /users/admin"};
  e2e::Daemon d;
  std::string script;
  for (const std::string &line : lines) script += line + "\n";
  e2e::run({"cli", "-C", "-T", "-s", d.socket()}, script);
  std::string want =
      e2e::run({"cli", "-T", "-s", d.socket(), "listr", "/users"}).out;
  EXPECT_NE(want.find("\n  op/1\n"), std::string::npos) << want;
  for (const std::string at : {"cli -> ", "users -> "}) {
    e2e::Daemon fresh;
    Session s(fresh);
    if (at[0] == 'u') s.type("cd /users", at);
    for (std::string line : lines) {
      if (at[0] == 'u')
        line.replace(line.find("/users/"), 7, line[0] == 'c' ? "./" : "");
      s.type(line, at);
    }
    EXPECT_EQ(s.type("listr /users", at), want);
    s.pty.send("exit!\r");
    EXPECT_TRUE(s.ends_with_code(0)) << s.screen();
  }
}

}  // namespace
