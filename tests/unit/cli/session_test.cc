// The session around the commands: the queue, the teardown, interrupts,
// the change journal with commit, revert and replay, exit with autocommit,
// the connection check and the prompt.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "commands/handlers.h"
#include "commands/journal.h"
#include "lang/dispatch.h"
#include "shell/connection.h"
#include "shell/exit.h"
#include "shell/input.h"
#include "shell/interrupt.h"
#include "shell/queue.h"
#include "shell/read_loop.h"
#include "shell/teardown.h"
#include "test_util.h"
#include "tree/path.h"
#include "tree/strlist.h"

namespace {

const char kCommit[] = "13(NULL,NULL,NULL,NULL,NULL)";

class Session : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    cli_opts.interactive = true;
    fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops l"));
  }
  void TearDown() override {
    clear_command_queue();
    signal(SIGINT, SIG_DFL);
    strlist_free(&cli_state.journal);
    cli_free(cli_state.journal_branch);
    cli_state.journal_branch = nullptr;
    TreeTest::TearDown();
  }
  std::string run(const char *line, int replaying = 0) {
    return printed([&] { run_command_line(line, replaying); });
  }
  // The journal's lines joined by "|".
  std::string journal() {
    std::string out;
    for (int i = 0; i < strlist_count(cli_state.journal); i++)
      out += std::string(i ? "|" : "") + cli_state.journal[i];
    return out;
  }
};

TEST_F(Session, QueueIsFirstInFirstOutWithOwnCopies) {
  EXPECT_EQ(dequeue_command(), nullptr);
  char line[] = "set a=1";
  ASSERT_EQ(queue_command(line), 0);
  ASSERT_EQ(queue_command("list"), 0);
  EXPECT_EQ(cli_state.use_queue, 1);
  line[0] = 'X';
  strings got;
  for (int i = 0; i < 3; i++) {
    if (i == 1) {
      ASSERT_EQ(queue_command("show"), 0);
    }
    char *text = dequeue_command();
    got.push_back(text ? text : "<null>");
    free(text);
  }
  EXPECT_EQ(got, (strings{"set a=1", "list", "show"}));
  EXPECT_EQ(dequeue_command(), nullptr);
  EXPECT_EQ(cli_state.command_queue, nullptr);
}

TEST_F(Session, EndSessionStopsNoopsLogsOutAndReleasesOwnedTexts) {
  vornal_set_keep_alive(5, 0);
  cli_opts.server = cli_strdup("host:1");
  cli_opts.server_is_static = false;
  cli_state.user = cli_strdup("alice");
  cli_opts.user_is_static = false;
  cli_state.input_file = cli_strdup("script");
  cli_state.journal_branch = cli_strdup("net/");
  strlist_append(&cli_state.journal, cli_strdup("set a=1"));
  cli_state.completion_line = strdup("li");
  // A password typed at the prompt is not owned and stays.
  char *typed = cli_strdup("typed");
  cli_state.password = typed;
  queue_command("never run");
  end_session();
  EXPECT_EQ(fake_vornal::link().keep_alive_seconds, 0);
  EXPECT_EQ(fake_vornal::request_texts(), strings{R"(23("","","","",""))"});
  // Released blocks are also caught by the leak checker if missed.
  for (const void *p :
       {(const void *)cli_state.user, (const void *)cli_state.input_file,
        (const void *)cli_state.journal_branch, (const void *)cli_state.journal,
        (const void *)cli_state.root, (const void *)cli_state.completion_line,
        (const void *)cli_state.command_queue})
    EXPECT_EQ(p, nullptr);
  EXPECT_EQ(cli_state.password, typed);
  cli_free(typed);
}

TEST_F(Session, InterruptHandlerRestartsReadsAndOnlyRecords) {
  ASSERT_EQ(install_interrupt_handler(), 0);
  struct sigaction sa;
  sigaction(SIGINT, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
  EXPECT_EQ(sa.sa_handler, on_interrupt);
  EXPECT_FALSE(interrupt_pending());
  raise(SIGINT);
  EXPECT_TRUE(interrupt_pending());
  // A pending interrupt ends a wait at once, even with nothing to read.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  EXPECT_EQ(wait_for_input(p[0]), 0);
  // With changes and typing since the mark, the interrupt only warns.
  cli_state.modified = true;
  cli_state.typed_since_mark = true;
  EXPECT_EQ(printed([] { act_on_interrupt(); }),
            "\nThere are uncommited changes. Press ctl-c again exit anyway.\n");
  EXPECT_FALSE(cli_state.typed_since_mark);
  EXPECT_FALSE(interrupt_pending());
  ASSERT_EQ(write(p[1], "k", 1), 1);
  EXPECT_EQ(wait_for_input(p[0]), 1);
  close(p[0]);
  close(p[1]);
}

TEST_F(Session, InterruptWithoutChangesLogsOutAndDiesBySigint) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the farewell goes to stdout; let the matcher see it
        install_interrupt_handler();
        cli_state.typed_since_mark = true;  // no changes: no warning
        raise(SIGINT);
        act_on_interrupt();
      },
      testing::KilledBySignal(SIGINT), "Bye!");
}

TEST_F(Session, JournalTakesTheFirstBranchAndOnlyChanges) {
  cli_state.cwd = add({"a", "b"});
  run("set x=1");
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  // Later lines keep the first branch and are kept as typed; queries,
  // refused lines and replayed lines stay out.
  cli_state.cwd = cli_state.root;
  for (const char *line : {"help", "version", "list", "show", "sett x=1"})
    run(line);
  run("set x=3", 1);
  run("set   y=2 ");
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  EXPECT_EQ(journal(), "set x=1|set   y=2 ");
  // A commit empties it; the next journal takes a fresh branch (the root
  // is null), but the old one stays until then.
  cli_state.modified = true;
  run("commit");
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  run("set x=2");
  EXPECT_EQ(cli_state.journal_branch, nullptr);
  EXPECT_EQ(journal(), "set x=2");
}

// Without changes nothing is sent: the terminal test counts the commits.
TEST_F(Session, CommitSaysCommittedWhateverTheAnswer) {
  for (fake_vornal::reply a :
       {status_only("OK"), status_only("ERR nope"), no_handle()}) {
    fake_vornal::reset();
    fake_vornal::on(VORNAL_MSG_COMMIT, std::nullopt, a);
    journal_append("set y=2");
    cli_state.modified = true;
    EXPECT_EQ(printed([] { cmd_commit(nullptr); }), "Changes committed.\n");
    EXPECT_EQ(fake_vornal::request_texts(), strings{kCommit});
    EXPECT_FALSE(cli_state.modified);
    EXPECT_EQ(cli_state.journal, nullptr);
  }
}

TEST_F(Session, RevertReloadsAndKeepsThePlaceWhileItExists) {
  fake_vornal::on(VORNAL_MSG_LIST, "/", answer("a\na/b\nc"));
  cli_state.cwd = add({"a", "b"});
  cli_state.modified = true;
  journal_append("set x=1");
  EXPECT_EQ(printed([] { cmd_revert(nullptr); }), "");
  EXPECT_EQ(fake_vornal::request_texts().at(0), "22(\"\",\"\",\"\",\"\",\"\")");
  EXPECT_EQ(take(branch_of_node(cli_state.cwd)), "a/b/");
  EXPECT_FALSE(cli_state.modified);
  EXPECT_EQ(cli_state.journal, nullptr);
  // The node was an uncommitted creation: gone after the reload.
  cli_state.cwd = add({"new"});
  cli_state.modified = true;
  printed([] { cmd_revert(nullptr); });
  EXPECT_EQ(cli_state.cwd, cli_state.root);
}

// A replay that works shows in the terminal test.
TEST_F(Session, ReplayStopsWhenTheBranchIsGone) {
  cli_node *elsewhere = add({"c"});
  cli_state.cwd = add({"a", "b"});
  journal_start_branch();
  journal_append("set x=1");
  journal_append("set y=2");
  disconnect_child(cli_state.root, add({"a"}));
  cli_state.cwd = elsewhere;
  EXPECT_EQ(printed([] { replay_journal(); }),
            "Unable to change to the branch that was current when the tree "
            "was first modified.\n");
  EXPECT_EQ(cli_state.cwd, elsewhere) << "not moved";
  EXPECT_EQ(journal(), "set x=1|set y=2");
}

// Exit with and without changes shows in the terminal tests.
TEST_F(Session, AutocommitAtExitNeedsExactlyOk) {
  cli_state.modified = true;
  cli_state.autocommit = true;
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
    EXPECT_EQ(fake_vornal::request_texts(), strings{kCommit});
    EXPECT_EQ(cmd_exit(nullptr), c.allowed);
    EXPECT_EQ(cli_state.exit_requested, c.allowed == 0);
    EXPECT_TRUE(cli_state.modified) << "the end of the loop commits again";
  }
}

TEST_F(Session, ConnectionCheckAndPrompt) {
  // The yes/no question must find no terminal, whatever runs the tests.
  int saved = dup(0), null_fd = open("/dev/null", O_RDONLY);
  dup2(null_fd, 0);
  close(null_fd);
  for (int state : {VORNAL_STATE_CONNECTED, VORNAL_STATE_HUNG}) {
    fake_vornal::link().state = state;
    EXPECT_TRUE(connection_ok());
    EXPECT_EQ(printed([] { EXPECT_EQ(check_connection(), 0); }), "");
  }
  const std::string ask = "Would you like to try to reconnect? y/N\n";
  const struct {
    int state;
    std::string message;
  } lost[] = {
      {VORNAL_STATE_LOST,
       "The connection to vornd has timed out or vornd has been killed.\n"},
      {VORNAL_STATE_ENDED, "Another user has logged in, logging you out.\n"},
      {VORNAL_STATE_NOT_CONNECTED, ""},
  };
  for (const auto &c : lost) {
    fake_vornal::reset();
    vornal_set_keep_alive(1, 0);
    fake_vornal::link().state = c.state;
    EXPECT_FALSE(connection_ok());
    EXPECT_EQ(printed([] { EXPECT_NE(check_connection(), 0); }),
              c.message + ask);
    EXPECT_EQ(fake_vornal::link().keep_alive_seconds, 0)
        << "no-ops stay stopped";
    EXPECT_EQ(fake_vornal::link().connects, 0) << "no answer, no reconnect";
  }
  // Scripts leave a lost connection to the commands.
  cli_opts.interactive = false;
  EXPECT_EQ(printed([] { EXPECT_EQ(check_connection(), 0); }), "");
  dup2(saved, 0);
  close(saved);
  free_tree();
  EXPECT_EQ(take(build_prompt()), "cli -> ") << "no tree at all";
}

}  // namespace
