// commit, revert and the replay of the journal against the library
// stand-in; exit and its autocommit.
#include <string>
#include <vector>

#include "commands/handlers.h"
#include "commands/journal.h"
#include "shell/exit.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;
using strings = std::vector<std::string>;

class JournalTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    cli_opts.interactive = true;
    fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops l"));
  }
  void TearDown() override {
    strlist_free(&cli_state.journal);
    cli_free(cli_state.journal_branch);
    cli_state.journal_branch = nullptr;
    TreeTest::TearDown();
  }
  void journal(std::initializer_list<const char *> lines) {
    for (const char *l : lines) journal_append(l);
  }
};

TEST_F(JournalTest, CommitAndRevertWithoutChangesSendNothing) {
  journal({"set x=1"});
  EXPECT_EQ(printed([] { cmd_commit(nullptr); }), "No changes to commit.\n");
  EXPECT_EQ(printed([] { cmd_revert(nullptr); }), "Nothing to revert.\n");
  EXPECT_TRUE(fake_vornal::requests().empty());
  EXPECT_EQ(strlist_count(cli_state.journal), 1) << "left alone";
}

TEST_F(JournalTest, CommitSendsFiveNullsAndClearsWhateverTheAnswer) {
  const fake_vornal::reply answers[] = {status_only("OK"),
                                        status_only("ERR nope"), no_handle()};
  for (const auto &a : answers) {
    fake_vornal::reset();
    fake_vornal::on(VORNAL_MSG_COMMIT, std::nullopt, a);
    journal({"set x=1", "set y=2"});
    cli_state.modified = true;
    EXPECT_EQ(printed([] { cmd_commit(nullptr); }), "Changes committed.\n");
    EXPECT_EQ(fake_vornal::request_texts(),
              strings{"13(NULL,NULL,NULL,NULL,NULL)"});
    EXPECT_FALSE(cli_state.modified);
    EXPECT_EQ(cli_state.journal, nullptr);
    EXPECT_EQ(fake_vornal::live_handles(), 0);
  }
}

TEST_F(JournalTest, RevertReloadsAndKeepsThePlaceWhileItExists) {
  fake_vornal::on(VORNAL_MSG_LIST, "/", answer("a\na/b\nc"));
  cli_state.cwd = add({"a", "b"});
  cli_state.modified = true;
  journal({"set x=1"});
  EXPECT_EQ(printed([] { cmd_revert(nullptr); }), "");
  strings sent = fake_vornal::request_texts();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0], "22(\"\",\"\",\"\",\"\",\"\")");
  EXPECT_EQ(take(branch_of_node(cli_state.cwd)), "a/b/");
  EXPECT_FALSE(cli_state.modified);
  EXPECT_EQ(cli_state.journal, nullptr);

  // The node was an uncommitted creation: gone after the reload.
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops l"));
  fake_vornal::on(VORNAL_MSG_LIST, "/", answer("c"));
  cli_state.cwd = add({"new"});
  cli_state.modified = true;
  printed([] { cmd_revert(nullptr); });
  EXPECT_EQ(cli_state.cwd, cli_state.root);
}

TEST_F(JournalTest, ReplayRunsEveryLineFromTheBranchAndKeepsTheJournal) {
  add({"a", "b"});
  cli_node *elsewhere = add({"c"});
  cli_state.cwd = add({"a", "b"});
  journal_start_branch();
  journal({"set x=1", "set y=2"});
  cli_state.cwd = elsewhere;
  std::string out = printed([] { replay_journal(); });
  size_t first = out.find("\nReplaying: set x=1\n");
  size_t second = out.find("\nReplaying: set y=2\n");
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_NE(second, std::string::npos) << out;
  EXPECT_LT(first, second);
  EXPECT_EQ(take(branch_of_node(cli_state.cwd)), "a/b/");
  EXPECT_EQ(strlist_count(cli_state.journal), 2);
}

TEST_F(JournalTest, ReplayStopsBeforeAnyLineWhenTheBranchIsGone) {
  cli_state.cwd = add({"gone"});
  journal_start_branch();
  journal({"set x=1"});
  free_tree();
  cli_state.root = talloc_zero(nullptr, struct cli_node);
  cli_state.cwd = add({"other"});
  EXPECT_EQ(printed([] { replay_journal(); }),
            "Unable to change to the branch that was current when the tree "
            "was first modified.\n");
  EXPECT_EQ(take(branch_of_node(cli_state.cwd)), "other/") << "not moved";
  EXPECT_EQ(strlist_count(cli_state.journal), 1);
}

TEST_F(JournalTest, ExitWithoutAutocommitRefusesAndForceAlwaysEnds) {
  EXPECT_EQ(cmd_exit(nullptr), 0);
  EXPECT_TRUE(cli_state.exit_requested);
  cli_state.exit_requested = false;
  cli_state.modified = true;
  EXPECT_EQ(printed([] { EXPECT_EQ(cmd_exit(nullptr), 1); }),
            "There are uncommited changes. Use exit! to exit anyway.\n");
  EXPECT_FALSE(cli_state.exit_requested);
  EXPECT_TRUE(fake_vornal::requests().empty());
  EXPECT_EQ(cmd_exit_force(nullptr), 0);
  EXPECT_TRUE(cli_state.exit_requested);
  EXPECT_TRUE(cli_state.discard_changes);
}

TEST_F(JournalTest, ExitWithAutocommitNeedsExactlyOk) {
  cli_state.autocommit = true;
  cli_state.modified = true;
  const struct {
    fake_vornal::reply reply;
    int allowed;
  } cases[] = {{status_only("OK"), 0},
               {status_only("OK then"), 1},
               {status_only("ok"), 1},
               {status_only(std::nullopt), 1},
               {no_handle(), 1}};
  for (const auto &c : cases) {
    fake_vornal::reset();
    fake_vornal::on(VORNAL_MSG_COMMIT, std::nullopt, c.reply);
    cli_state.exit_requested = false;
    EXPECT_EQ(printed([] { exit_allowed(); }), "") << "always silent";
    EXPECT_EQ(fake_vornal::request_texts(),
              strings{"13(NULL,NULL,NULL,NULL,NULL)"});
    fake_vornal::clear_requests();
    EXPECT_EQ(cmd_exit(nullptr), c.allowed);
    EXPECT_EQ(cli_state.exit_requested, c.allowed == 0);
    EXPECT_TRUE(cli_state.modified) << "the end of the loop commits again";
    EXPECT_EQ(fake_vornal::live_handles(), 0);
  }
}

}  // namespace
