// The commands and the session around them, against the library stand-in,
// for answers vornd never gives (no status, no handle) and for what needs a
// terminal: get, set and help, the teardown, interrupts, the change journal
// with commit, revert and replay, exit with autocommit, and the connection
// check. The transcripts run the same commands against vornd and show their
// exact requests with -D. The command queue only ever holds the command
// words, which the startup transcript runs.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "commands/handlers.h"
#include "commands/journal.h"
#include "commands/set.h"
#include "lang/dispatch.h"
#include "lang/parser.h"
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

const char eth0[] = "/net/eth0";
const char open_batch[] = "50(\"\",\"\",\"\",\"\",\"\")";
const char close_batch[] = "51(\"\",\"\",\"\",\"\",\"\")";

// The text of a set request for name with value (null: NULL) at eth0.
std::string set_request(const char *name, const char *value) {
  std::string v = value ? "\"" + std::string(value) + "\"" : "NULL";
  return "11(NULL,\"/net/eth0\",NULL,\"" + std::string(name) + "\"," + v + ")";
}

class Commands : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    fake_vornal::set_default(status_only("OK"));
  }
  // Runs handler on a command for eth0 with one pair per word; returns what
  // it printed.
  std::string run(int (*handler)(parsed_command *),
                  std::initializer_list<const char *> words) {
    parsed_command *pc = make_command(eth0, words);
    std::string out = printed([&] { result = handler(pc); });
    for (parsed_command_value_pair *p = pc->values; p; p = p->next)
      EXPECT_TRUE(!p->request && !p->status_text) << "left behind";
    talloc_free(pc);
    return out;
  }
  std::string set(std::initializer_list<const char *> words) {
    return run(cmd_set, words);
  }
  void answer_set(const char *name, fake_vornal::reply r) {
    fake_vornal::on(VORNAL_MSG_SET, eth0, name, r);
  }
  int result = -1;
};

// vornd always answers; a missing status or handle comes from the stand-in.
TEST_F(Commands, StructureCommandsWithoutAStatusOrAHandle) {
  cli_opts.interactive = false;
  for (auto handler : {cmd_create, cmd_delete, cmd_rename}) {
    fake_vornal::set_default(status_only(std::nullopt));
    EXPECT_EQ(run(handler, {}), "ERR No reply received.\n");
    EXPECT_EQ(cli_state.status, -12);
    fake_vornal::set_default(no_handle());
    cli_state.status = 0;
    EXPECT_EQ(run(handler, {}), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(cli_state.status, 0);
  }
}

// A single pair without a batch, several in one batch answered in word
// order, and set without pairs show with -D in the values transcript.
TEST_F(Commands, BatchCloseMustSayExactlyOk) {
  for (fake_vornal::text status :
       {fake_vornal::text("ERR batch rejected"), fake_vornal::text("O"),
        fake_vornal::text()}) {
    fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt, status_only(status),
                    1);
    EXPECT_EQ(set({"a=1", "b=2"}), "Set a: OK\nSet b: OK\n");
    EXPECT_NE(result, 0) << status.value_or("NULL");
    EXPECT_FALSE(cli_state.modified);
  }
}

TEST_F(Commands, SendingStopsAtTheFirstLostRequest) {
  answer_set("b", no_handle());
  EXPECT_EQ(set({"a=1", "b=2", "c=3"}),
            "Set a: OK\nCouldn't send.\nCouldn't send.\n");
  EXPECT_EQ(
      fake_vornal::request_texts(),
      (strings{open_batch, set_request("a", "1"), set_request("b", "2")}));
  EXPECT_NE(result, 0);
  fake_vornal::clear_requests();
  fake_vornal::on(VORNAL_MSG_BATCH_OPEN, std::nullopt, no_handle());
  EXPECT_EQ(set({"a=1", "b=2"}), "Couldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts(), strings{open_batch});
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(Commands, ScriptStatusesFollowTheLastFailure) {
  cli_opts.interactive = false;
  answer_set("b", status_only("ERR sanity check failed"));
  answer_set("d", status_only(std::nullopt));
  EXPECT_EQ(set({"d=1"}), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  // A lost request prints its line but leaves the status alone.
  answer_set("e", no_handle());
  EXPECT_EQ(set({"e=1"}), "Couldn't send.\n");
  EXPECT_EQ(cli_state.status, -12);
  // On a terminal the same failures leave the status alone.
  cli_opts.interactive = true;
  cli_state.status = 0;
  set({"b=x", "d=1"});
  EXPECT_EQ(cli_state.status, 0);
}

TEST_F(Commands, GetWithoutAReplyOrAName) {
  cli_opts.interactive = false;
  fake_vornal::on(VORNAL_MSG_GET, eth0, "lost", no_handle());
  EXPECT_EQ(run(cmd_get, {"lost"}), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  EXPECT_EQ(run(cmd_get, {}), "Parse error: get requires a parameter name.\n");
  EXPECT_EQ(cli_state.status, -17);
  cli_opts.interactive = true;
  cli_state.status = 0;
  run(cmd_get, {"lost"});
  run(cmd_get, {});
  EXPECT_EQ(cli_state.status, 0);
  EXPECT_FALSE(cli_state.modified);
}

class Help : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    cli_opts.interactive = true;
    add({"net", "eth0"})->parent->flags = 0x0F;
    add({"net", "mtu"})->flags = 0x30;
    add({"net", "wol"})->flags = 0x30;
    fake_vornal::set_default(answer("Some+help%2E"));
  }
  // Parses line, runs help and returns the printed text and the topic of
  // the only request it sent, as "text|topic".
  std::string help(const char *line) {
    fake_vornal::clear_requests();
    parsed_command *pc = parse_command_line(line, 0);
    EXPECT_NE(pc, nullptr) << line;
    std::string out = printed([&] { cmd_help(pc); });
    free_parsed_command(pc);
    // The request's type and other arguments show with -D in the values
    // transcript.
    strings sent = fake_vornal::request_texts(VORNAL_MSG_HELP);
    EXPECT_EQ(sent.size(), 1u);
    return out + "|" + fake_vornal::requests().at(0).args[1].value_or("<null>");
  }
};

// Topics in scripts, which have no cwd, and the decoded texts show with -D
// in the values transcript; a refusal there too, not the answers that
// vornd never gives.
TEST_F(Help, TopicIsThePathWithASlashOrTheLastParameter) {
  cli_state.cwd = add({"net"});
  EXPECT_EQ(help("help"), "Some help.\n|/net/");
  EXPECT_EQ(help("help mtu wol"), "Some help.\n|/net/wol");
  EXPECT_EQ(help("help eth0"), "Some help.\n|/net/eth0/");
  fake_vornal::on(VORNAL_MSG_HELP, "/net/wol", status_only(std::nullopt));
  fake_vornal::on(VORNAL_MSG_HELP, "/net/eth0/", no_handle());
  fake_vornal::on(VORNAL_MSG_HELP, "/", status_only("OK"));
  EXPECT_EQ(help("help /net wol"),
            "No help is available for this path.\n|/net/wol");
  EXPECT_EQ(help("help /net/eth0"), "|/net/eth0/");
  EXPECT_EQ(help("help /"), "|/");  // "OK" without a text shows nothing
}

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
  // The logout request shows with -D in the transcripts.
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
  EXPECT_EQ(run("commit"), "Changes committed.\n");
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_COMMIT), strings{kCommit});
  EXPECT_FALSE(cli_state.modified);
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  run("set x=2");
  EXPECT_EQ(cli_state.journal_branch, nullptr);
  EXPECT_EQ(journal(), "set x=2");
}

TEST_F(Session, RevertReloadsAndKeepsThePlaceWhileItExists) {
  fake_vornal::on(VORNAL_MSG_LIST, "/", answer("a\na/b\nc"));
  cli_state.cwd = add({"a", "b"});
  cli_state.modified = true;
  journal_append("set x=1");
  // Silence, the place kept and the change flag cleared show in the
  // terminal tests.
  printed([] { cmd_revert(nullptr); });
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
  // A hung link still runs lines, a lost one asks to reconnect: both show
  // in the terminal tests.
  const std::string ask = "Would you like to try to reconnect? y/N\n";
  const struct {
    int state;
    std::string message;
  } lost[] = {
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
