// cd, get, help and set on a real terminal against the real vornd: the
// prompt follows cd, parameter words are known from the local tree, and a
// set whose side effect adds nodes shows them without a restart.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/daemon.h"
#include "support/pty.h"
#include "support/run.h"

namespace {

// An interactive cli on d, waiting at its first prompt.
struct Terminal {
  explicit Terminal(const e2e::Daemon &d)
      : pty(e2e::bin_path("cli"), {"cli", "-q", "-s", d.socket()},
            {"CLI_USER=root"}) {
    EXPECT_TRUE(pty.expect("cli -> ")) << screen();
  }
  ~Terminal() {
    pty.send("exit!\r");
    pty.wait();
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
  std::string screen() const { return e2e::without_cr(pty.output()); }
  e2e::Pty pty;
};

TEST(CommandsTerminal, PromptFollowsCdAndCdAlonePrintsThePath) {
  e2e::Daemon d;
  Terminal t(d);
  EXPECT_EQ(t.type("cd", "cli -> "), "/\n");
  EXPECT_EQ(t.type("cd network/interfaces", "network/interfaces -> "), "");
  EXPECT_EQ(t.type("cd", "network/interfaces -> "), "/network/interfaces\n");
  EXPECT_EQ(t.type("cd ..", "network -> "), "");
  EXPECT_EQ(t.type("list", "network -> "),
            "network\n  interfaces\n  dns\n  gateway\n");
  EXPECT_EQ(t.type("cd /", "cli -> "), "");
}

TEST(CommandsTerminal, ParameterWordsOfTheCurrentNode) {
  e2e::Daemon d;
  Terminal t(d);
  t.type("cd system", "system -> ");
  EXPECT_EQ(t.type("get hostname timezone", "system -> "),
            "Get hostname: velmar\nGet timezone: UTC\n");
  EXPECT_EQ(t.type("help", "system -> "),
            "Identity and basic settings of the device.\n");
  EXPECT_EQ(t.type("help timezone hostname", "system -> "),
            "Name of the device: letters, digits and inner dashes.\n");
  EXPECT_EQ(t.type("set hostname=box contact=me", "system -> "),
            "Set hostname: OK\nSet contact: OK\n");
  // A bare name resets the parameter to the model's default.
  EXPECT_EQ(t.type("set hostname", "system -> "), "Set hostname: OK\n");
  EXPECT_EQ(t.type("get hostname contact", "system -> "),
            "Get hostname: velmar\nGet contact: me\n");
}

TEST(CommandsTerminal, SideEffectOfASetShowsInTheNextListing) {
  e2e::Daemon d;
  Terminal t(d);
  const char before[] = "status\n  uptime\n  firmware\n  interfaces\n";
  EXPECT_EQ(t.type("list /status", "cli -> "), before);
  EXPECT_EQ(t.type("set /services/vpn enabled=true", "cli -> "),
            "Set enabled: OK\n");
  EXPECT_EQ(t.type("list /status", "cli -> "), std::string(before) + "  vpn\n");
  EXPECT_EQ(t.type("showr /status/vpn", "cli -> "),
            "vpn\n  state=connecting\n  peer-address=\n  bytes-in=0\n");
  EXPECT_EQ(t.type("set /services/vpn enabled=false", "cli -> "),
            "Set enabled: OK\n");
  EXPECT_EQ(t.type("list /status", "cli -> "), before);
}

}  // namespace
