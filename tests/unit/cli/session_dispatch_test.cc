// Dispatch: refusals with their statuses, and which lines enter the change
// journal with which branch.
#include <string>

#include "lang/dispatch.h"
#include "tree/strlist.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

class DispatchTest : public TreeTest {
 protected:
  void TearDown() override {
    strlist_free(&cli_state.journal);
    cli_free(cli_state.journal_branch);
    cli_state.journal_branch = nullptr;
    TreeTest::TearDown();
  }
  std::string run(const char *line, int replaying = 0) {
    return printed([&] { run_command_line(line, replaying); });
  }
  std::string journal() {
    std::string out;
    for (int i = 0; i < strlist_count(cli_state.journal); i++)
      out += std::string(i ? "|" : "") + cli_state.journal[i];
    return out;
  }
};

TEST_F(DispatchTest, ScriptRefusesInteractiveOnlyRowsByTableName) {
  cli_opts.interactive = false;
  const struct {
    const char *line, *name;
  } cases[] = {{"quit", "exit"},     {"bye", "exit"},    {"exit", "exit"},
               {"quit!", "exit!"},   {"exit!", "exit!"}, {"commit", "commit"},
               {"revert", "revert"}, {"cd /net", "cd"}};
  for (const auto &c : cases) {
    cli_state.status = 0;
    EXPECT_EQ(run(c.line),
              "'" + std::string(c.name) + "' only works in interactive mode.\n")
        << c.line;
    EXPECT_EQ(cli_state.status, -15) << c.line;
  }
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_FALSE(cli_state.exit_requested);
  EXPECT_TRUE(fake_vornal::requests().empty()) << "a refused row ran";
}

TEST_F(DispatchTest, EmptyAndBlankLinesDoNothingAndKeepTheStatus) {
  cli_opts.interactive = false;
  cli_state.status = -12;
  EXPECT_EQ(run(""), "");
  EXPECT_EQ(run("     "), "");
  EXPECT_EQ(cli_state.status, -12);
  cli_opts.interactive = true;
  EXPECT_EQ(run("  "), "");
  EXPECT_EQ(cli_state.journal, nullptr);
}

TEST_F(DispatchTest, ParserRefusalsKeepTheirOwnStatusAndAreNotJournaled) {
  cli_opts.interactive = false;
  EXPECT_EQ(run("frobnicate x"),
            "Parse error: frobnicate is not a valid command.\n");
  EXPECT_EQ(cli_state.status, -16);
  std::string out = run("get");
  EXPECT_EQ(out.rfind("Parse error: ", 0), 0u) << out;
  EXPECT_EQ(cli_state.status, -17);
  cli_opts.interactive = true;
  cli_state.status = 0;
  out = run("sett x=1");
  EXPECT_EQ(out.rfind("Valid commands are:\n", 0), 0u) << out;
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_EQ(cli_state.status, 0) << "a terminal gets messages only";
}

TEST_F(DispatchTest, FirstJournaledLineTakesTheBranchWhereItRan) {
  cli_opts.interactive = true;
  cli_state.cwd = add({"a", "b"});
  run("set x=1");
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  EXPECT_EQ(journal(), "set x=1");
  // Later lines keep the first branch and are kept as typed.
  cli_state.cwd = cli_state.root;
  run("set   y=2 ");
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  EXPECT_EQ(journal(), "set x=1|set   y=2 ");
}

TEST_F(DispatchTest, QueriesCommitAndReplayedLinesStayOutOfTheJournal) {
  cli_opts.interactive = true;
  add({"net"});
  for (const char *line : {"help", "version", "list", "show", "commit"})
    run(line);
  EXPECT_EQ(cli_state.journal, nullptr);
  run("set x=1", 1);
  EXPECT_EQ(cli_state.journal, nullptr);
}

TEST_F(DispatchTest, AFreshJournalAfterCommitTakesAFreshBranch) {
  cli_opts.interactive = true;
  cli_state.cwd = add({"a"});
  run("set x=1");
  cli_state.modified = true;
  run("commit");
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_STREQ(cli_state.journal_branch, "a/") << "kept until the next one";
  cli_state.cwd = cli_state.root;
  run("set x=2");
  EXPECT_EQ(cli_state.journal_branch, nullptr) << "root is null";
  EXPECT_EQ(journal(), "set x=2");
}

}  // namespace
