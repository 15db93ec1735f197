// create, delete and rename on a terminal against the real vornd and the
// demo model. Each session logs in as the user running the test. The local
// tree is checked against the daemon's own listing, read by a script after
// a commit.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace {

// An interactive cli on d, waiting at its first prompt.
struct Terminal {
  explicit Terminal(const e2e::Daemon &d)
      : pty({"cli", "-q", "-T", "-s", d.socket()}) {
    EXPECT_TRUE(pty.expect("cli -> ")) << screen();
  }
  // Types line and returns what it printed before the prompt that follows.
  // A long line wraps on the screen, so only the end of its echo is sought.
  std::string type(const std::string &line, const std::string &prompt) {
    size_t from = pty.output().size();
    pty.send(line + "\r");
    std::string tail = line.substr(line.size() > 20 ? line.size() - 20 : 0);
    EXPECT_TRUE(pty.expect(tail)) << screen();
    EXPECT_TRUE(pty.expect(prompt)) << line << "\n" << screen();
    std::string seen = pty.output().substr(from);
    seen.erase(std::remove(seen.begin(), seen.end(), '\r'), seen.end());
    for (const char *mode : {"\x1b[?2004l", "\x1b[?2004h"})
      for (size_t at; (at = seen.find(mode)) != std::string::npos;)
        seen.erase(at, strlen(mode));
    size_t start = seen.find(tail + "\n") + tail.size() + 1;
    return seen.substr(start, seen.rfind(prompt) - start);
  }
  // Commits, ends the session and checks that it ended well.
  void commit_and_exit(const std::string &prompt) {
    EXPECT_EQ(type("commit", prompt), "Changes committed.\n");
    pty.send("exit\r");
    EXPECT_TRUE(e2e::exited_with(pty.wait(), 0)) << screen();
  }
  std::string screen() const { return e2e::without_cr(pty.output()); }
  e2e::Pty pty;
};

// Returns what a script run of line prints on d, without the echo.
std::string script(const e2e::Daemon &d, const std::string &line) {
  e2e::RunResult r = e2e::run({"cli", "-T", "-s", d.socket(), line});
  EXPECT_EQ(r.exit_code(), 0) << r.out << r.err;
  return r.out;
}

TEST(StructureTerminal, CreateLinesAreUndoneWhenRefusedOrWhenTheirSetFails) {
  e2e::Daemon d;
  Terminal t(d);
  const std::string at = "network/interfaces -> ";
  EXPECT_EQ(t.type("cd /network/interfaces", at), "");
  EXPECT_EQ(t.type("create ./eth5 mtu=1400 bogus", at),
            "Create: OK\nParse error: Word 4 (bogus) is not what was "
            "expected. (Expecting parameter).\n");
  EXPECT_EQ(t.type("create ./eth5 mtu=1", at),
            "Create: OK\nSet mtu: ERR sanity check failed\n");
  EXPECT_EQ(t.type("list", at), "interfaces\n  eth0\n  eth1\n");
  // The new interface's link state appears through the mirror list.
  EXPECT_EQ(t.type("create ./eth6 mtu=1300 speed=100", at),
            "Create: OK\nSet mtu: OK\nSet speed: OK\n");
  EXPECT_EQ(t.type("list /status/interfaces", at),
            "interfaces\n  eth0\n  eth1\n  eth6\n");
  EXPECT_EQ(t.type("create /network/interfaces/eth6", at),
            "The node '' already exists.\n");
  EXPECT_EQ(t.type("create /status/x", at),
            "Create: ERR result=5 Can't add anything there\n");
  std::string local = t.type("showr /network/interfaces/eth6", at);
  t.commit_and_exit(at);
  EXPECT_EQ(script(d, "showr /network/interfaces/eth6"), local);
  EXPECT_EQ(script(d, "list /network/interfaces"),
            "interfaces\n  eth0\n  eth1\n  eth6\n");
}

TEST(StructureTerminal, DeletingWhereYouStandMovesUpAndRenameKeepsThePlace) {
  e2e::Daemon d;
  Terminal t(d);
  const std::string at = "network/interfaces -> ";
  EXPECT_EQ(
      t.type("cd /network/interfaces/eth1", "network/interfaces/eth1 -> "), "");
  EXPECT_EQ(t.type("delete .", at), "Delete: OK\n");
  EXPECT_EQ(t.type("create ./eth2", at), "Create: OK\n");
  EXPECT_EQ(t.type("rename eth0 lan\\/0", at), "Rename: OK.\n");
  EXPECT_EQ(t.type("list", at), "interfaces\n  lan/0\n  eth2\n");
  EXPECT_EQ(t.type("list /status/interfaces", at),
            "interfaces\n  lan/0\n  eth2\n");
  EXPECT_EQ(t.type("cd lan\\/0", "network/interfaces/lan/0 -> "), "");
  EXPECT_EQ(t.type("delete /network/interfaces/lan\\/0", at), "Delete: OK\n");
  t.commit_and_exit(at);
  EXPECT_EQ(script(d, "list /network/interfaces"), "interfaces\n  eth2\n");
}

// The same changes typed from the root, typed relative to /users, and run
// as a script leave the daemon with the same users, and on a terminal the
// local tree lists what the daemon lists.
TEST(StructureTerminal, AbsoluteRelativeAndScriptedFormsEndInTheSameTree) {
  const std::string long_name(300, 'n');
  const std::vector<std::string> absolute = {
      "create /users/\"Jane Doe\" role=admin",
      "create /users/50%",
      "create /users/a\\/b",
      "create /users/delete",
      "create /users/" + long_name,
      "rename /users/operator op\\/1",
      "delete /users/admin",
      "delete /users/a\\/b",
      "delete /users/" + long_name};
  std::vector<std::string> relative = absolute;
  for (std::string &line : relative) {
    line.replace(line.find("/users/"), 7, line[0] == 'c' ? "./" : "");
  }
  std::vector<std::string> trees;
  for (bool from_users : {false, true}) {
    e2e::Daemon d;
    Terminal t(d);
    std::string at = "cli -> ";
    if (from_users) t.type("cd /users", at = "users -> ");
    for (const std::string &line : from_users ? relative : absolute)
      t.type(line, at);
    std::string local = t.type("listr /users", at);
    t.commit_and_exit(at);
    trees.push_back(script(d, "listr /users"));
    EXPECT_EQ(local, trees.back());
  }
  e2e::Daemon d;
  std::string text;
  for (const std::string &line : absolute) text += line + "\n";
  e2e::RunResult r = e2e::run({"cli", "-C", "-T", "-s", d.socket()}, text);
  EXPECT_EQ(r.exit_code(), 0) << r.out;
  trees.push_back(script(d, "listr /users"));
  EXPECT_EQ(trees[0], trees[1]);
  EXPECT_EQ(trees[0], trees[2]);
  EXPECT_NE(trees[0].find("\n  op/1\n"), std::string::npos) << trees[0];
  EXPECT_NE(trees[0].find("\n  Jane Doe\n"), std::string::npos);
}

TEST(StructureTerminal, AReplayAfterAKilledDaemonReproducesTheChanges) {
  e2e::Daemon d;
  Terminal t(d);
  const std::string at = "network/routes -> ";
  t.type("cd /network/routes", at);
  t.type("create ./10.0.0.0\\/8 via=192.168.1.9", at);
  t.type("create /users/guest", at);
  t.type("rename /users/guest visitor\\/1", at);
  t.type("delete /network/interfaces/eth1", at);
  std::string before = t.type("showr /", at);
  d.signal(SIGKILL);
  EXPECT_TRUE(t.pty.expect("Would you like to try to reconnect? y/N"));
  d.restart();
  t.pty.send("y");
  EXPECT_TRUE(
      t.pty.expect("Would you like to replay uncommitted modifications? y/N"));
  t.pty.send("y");
  EXPECT_TRUE(
      t.pty.expect("Replaying: delete /network/interfaces/eth1\r\n"
                   "Delete: OK\r\n"))
      << t.screen();
  EXPECT_TRUE(t.pty.expect(at)) << t.screen();
  EXPECT_EQ(t.type("showr /", at), before);
  t.commit_and_exit(at);
  EXPECT_EQ(script(d, "showr /"), before);
}

}  // namespace
