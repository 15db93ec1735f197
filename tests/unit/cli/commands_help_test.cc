// help topics and texts, cd and the version row, through the real parser
// where the parser decides what the handler sees.
#include <string>
#include <vector>

#include "commands/handlers.h"
#include "commands/help.h"
#include "lang/parser.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;

class HelpTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    cli_opts.interactive = true;
    add({"net", "eth0"})->parent->flags = 0x0F;
    add({"net", "mtu"})->flags = 0x30;
    add({"net", "wol"})->flags = 0x30;
    fake_vornal::set_default(answer("Some+help%2E"));
  }
  // Parses line, runs its handler and returns what it printed.
  std::string run(const char *line) {
    parsed_command *pc = parse_command_line(line, 0);
    EXPECT_NE(pc, nullptr) << line;
    if (!pc) return "<refused>";
    std::string out;
    if (std::string(line).rfind("cd", 0) == 0)
      out = printed([&] { cmd_cd(pc); });
    else
      out = printed([&] { cmd_help(pc); });
    free_parsed_command(pc);
    return out;
  }
  // The topic path of the only help request sent since the last call.
  std::string topic() {
    const std::vector<fake_vornal::request> &sent = fake_vornal::requests();
    EXPECT_EQ(sent.size(), 1u);
    std::string t = sent.empty() ? "" : sent[0].args[1].value_or("<null>");
    if (!sent.empty()) {
      EXPECT_EQ(sent[0].type, VORNAL_MSG_HELP);
      EXPECT_FALSE(sent[0].args[0] || sent[0].args[2] || sent[0].args[3] ||
                   sent[0].args[4]);
    }
    fake_vornal::clear_requests();
    return t;
  }
};

TEST_F(HelpTest, TopicIsThePathWithASlashAndTheLastParameter) {
  EXPECT_EQ(run("help"), "Some help.\n");
  EXPECT_EQ(topic(), "/");
  run("cd net");
  fake_vornal::clear_requests();
  run("help");
  EXPECT_EQ(topic(), "/net/");
  run("help mtu wol");
  EXPECT_EQ(topic(), "/net/wol");
  run("help eth0");
  EXPECT_EQ(topic(), "/net/eth0/");
  run("help /net/eth0");
  EXPECT_EQ(topic(), "/net/eth0/");
}

TEST_F(HelpTest, ScriptWithoutPathAsksForTheRoot) {
  cli_opts.interactive = false;
  parsed_command *pc = parse_command_line("help", 0);
  ASSERT_NE(pc, nullptr);
  EXPECT_EQ(printed([&] { cmd_help(pc); }), "Some help.\n");
  free_parsed_command(pc);
  EXPECT_EQ(topic(), "/");
}

TEST_F(HelpTest, RefusedUnansweredAndLostRequests) {
  fake_vornal::on(VORNAL_MSG_HELP, "/net/mtu", status_only("ERR nope"));
  fake_vornal::on(VORNAL_MSG_HELP, "/net/wol", status_only(std::nullopt));
  fake_vornal::on(VORNAL_MSG_HELP, "/net/eth0/", no_handle());
  fake_vornal::on(VORNAL_MSG_HELP, "/", status_only("OK"));
  const char na[] = "No help is available for this path.\n";
  EXPECT_EQ(run("help /net mtu"), na);
  EXPECT_EQ(run("help /net wol"), na);
  EXPECT_EQ(run("help /net/eth0"), "");
  // "OK" without a text has nothing to show.
  EXPECT_EQ(run("help /"), "");
}

TEST_F(HelpTest, HelpTextIsAnAllocatorTextWithPercentAndPlusDecoded) {
  fake_vornal::on(VORNAL_MSG_HELP, "/net/",
                  answer("MTU+in+bytes%2C+1280%2E%2E9000"));
  parsed_command *pc = parse_command_line("help net", 0);
  ASSERT_NE(pc, nullptr);
  EXPECT_EQ(take(help_text(pc)), "MTU in bytes, 1280..9000");
  free_parsed_command(pc);
  EXPECT_EQ(fake_vornal::live_handles(), 0);
}

TEST_F(HelpTest, CdAloneShowsThePathAndCdWithAPathMoves) {
  EXPECT_EQ(run("cd"), "/\n");
  EXPECT_EQ(run("cd net/eth0"), "");
  EXPECT_EQ(cli_state.cwd, cli_state.root->first_child->first_child);
  EXPECT_EQ(run("cd"), "/net/eth0\n");
  EXPECT_EQ(run("cd .."), "");
  EXPECT_EQ(run("cd"), "/net\n");
  EXPECT_EQ(run("cd /"), "");
  EXPECT_EQ(cli_state.cwd, cli_state.root);
  EXPECT_TRUE(fake_vornal::requests().empty());
}

TEST(VersionRow, PrintsTheBanner) {
  std::string out = printed([] { EXPECT_EQ(print_version(nullptr), 0); });
  EXPECT_EQ(out, "Velmar CLI 3.0 (2013-04-12T14:54-0700)\n");
}

}  // namespace
