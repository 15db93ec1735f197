// TAB pressed for real on a terminal against the real vornd, logged in as
// the user running the tests.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "support/e2e.h"

namespace {

// An interactive cli on d as the current user, at its first prompt.
struct Tty {
  explicit Tty(const e2e::Daemon &d)
      : pty({"cli", "-q", "-s", d.socket()}, {"CLI_USER=" + e2e::user()}) {
    EXPECT_TRUE(pty.expect("cli -> ")) << screen();
  }
  // Sends keys (after ctrl-U, which empties the line, unless on_line) and
  // expects each text in turn; "\n" stands for the terminal's "\r\n".
  void press(const std::string &keys, std::initializer_list<std::string> seen,
             bool on_line = false) {
    pty.send(on_line ? keys : "\x15" + keys);
    for (const std::string &want : seen) {
      std::string text;
      for (char c : want) text += c == '\n' ? "\r\n" : std::string(1, c);
      EXPECT_TRUE(pty.expect(text, 3000)) << keys << " -> " << text << "\n"
                                          << screen();
    }
  }
  std::string screen() const { return e2e::without_cr(pty.output()); }
  e2e::Pty pty;
};

TEST(Completion, CommandsPathsHelpValuesAndRepeats) {
  e2e::Daemon d;
  Tty t(d);
  t.press("\t\t", {"showr", "cli -> "});
  t.press("s\t\t", {"set    show   showr"});
  t.press("li\t\t\t", {"list   listr"});
  t.press("ls\t", {"ls "});
  t.press("frob \t", {"frob Valid commands are:"});
  // Deepest first: the branch after what lies below it.
  t.press("cd /network/interfaces/\t\t",
          {"/network/interfaces/eth0", "/network/interfaces/eth1",
           "/network/interfaces/\n"});
  t.press("list /system \t",
          {"\nIdentity and basic settings of the device.\n"});
  t.press("cd system\r", {"system -> "});
  t.press("set ho\t", {"hostname="});
  t.press("set timezone=\t", {"\nCurrent value is: UTC.\n", "system -> "});
  // A repeat: the editor's list follows the value on its line.
  t.press("\t", {"Current value is: UTC.\nUTC "}, true);
  // A key typed and deleted again makes the request fresh.
  t.press("x\x7f\t", {"Current value is: UTC.\n", "system -> set timezone="},
          true);
  t.press("exit\r", {});
  EXPECT_TRUE(e2e::exited_with(t.pty.wait(), 0)) << t.screen();
}

TEST(Completion, CreateLineOffersTheNewNodesParametersAndLeavesNoNode) {
  e2e::Daemon d;
  Tty t(d);
  t.press("cd /network/interfaces\r", {"network/interfaces -> "});
  t.press("create ./x \t\t", {"enabled", "description"});
  // Had the request left x on the daemon, this create would be refused.
  t.press("create ./x\r", {"Create: OK\n"});
  // With a change made, ctrl-c right after a TAB ends at once.
  t.press("get /system ho\t", {"hostname "});
  t.pty.send("\x03");
  EXPECT_TRUE(t.pty.expect("\r\nBye!")) << t.screen();
  EXPECT_TRUE(e2e::killed_by(t.pty.wait(), SIGINT)) << t.screen();
}

}  // namespace
