// Answers vornd never gives (no status, no handle, near-miss statuses) and
// the corners of the change journal, the options and the login. The
// transcripts and terminal tests run the same commands against vornd.
#include <string.h>
#include <unistd.h>

#include "commands/handlers.h"
#include "commands/help.h"
#include "commands/journal.h"
#include "lang/dispatch.h"
#include "link/login.h"
#include "shell/exit.h"
#include "shell/options.h"
#include "shell/read_loop.h"
#include "shell/teardown.h"
#include "test_util.h"
#include "tree/path.h"
#include "tree/strlist.h"

namespace {

using handler = int (*)(parsed_command *);
const fake_vornal::reply kNoStatus = status_only(std::nullopt);

class Session : public TreeTest {
 protected:
  void TearDown() override {
    strlist_free(&cli_state.journal);
    cli_free(cli_state.journal_branch);
    cli_state.journal_branch = nullptr;
    TreeTest::TearDown();
  }
  // Runs h on a command for /n with one pair per word; returns its result,
  // the status and what it printed.
  std::string run(handler h, std::initializer_list<const char *> words) {
    parsed_command *pc = make_command("/n", words);
    int r = 0;
    std::string out = printed([&] { r = h(pc); });
    for (auto *p = pc->values; p; p = p->next)
      EXPECT_TRUE(!p->request && !p->status_text) << "left behind";
    talloc_free(pc);
    return std::to_string(r) + " " + std::to_string(cli_state.status) + " " +
           out;
  }
  std::string journal() {
    std::string out;
    for (int i = 0; i < strlist_count(cli_state.journal); i++)
      out += std::string(i ? "|" : "") + cli_state.journal[i];
    return out;
  }
};

TEST_F(Session, HandlersOnAnswersVorndNeverGives) {
  const std::string no_reply = "ERR No reply received.\n";
  const struct {
    handler h;
    const char *word;
    fake_vornal::reply r;
    bool terminal;
    std::string want;
  } cases[] = {
      {cmd_create, "a=1", kNoStatus, false, "1 -12 " + no_reply},
      {cmd_delete, "a", kNoStatus, false, "1 -12 " + no_reply},
      {cmd_rename, "a", kNoStatus, false, "1 -12 " + no_reply},
      {cmd_create, "a=1", no_handle(), false, "1 0 "},
      {cmd_rename, "a", no_handle(), false, "1 0 "},
      {cmd_set, "d=1", kNoStatus, false, "1 -12 " + no_reply},
      {cmd_set, "d=1", kNoStatus, true, "1 0 " + no_reply},
      // A lost request prints its line but leaves the status alone.
      {cmd_set, "e=1", no_handle(), false, "1 0 Couldn't send.\n"},
      {cmd_get, "g", no_handle(), false, "0 -12 " + no_reply},
      {cmd_get, "g", no_handle(), true, "0 0 " + no_reply},
      {cmd_get, nullptr, answer("x"), false,
       "0 -17 Parse error: get requires a parameter name.\n"},
      // The help topic is the path with a slash, or its last parameter.
      {cmd_help, "w", kNoStatus, false,
       "0 0 No help is available for this path.\n"},
      {cmd_help, nullptr, no_handle(), false, "0 0 "},
      {cmd_help, nullptr, status_only("OK"), false, "0 0 "},
      {cmd_help, "w", answer("Some+help%2E"), false, "0 0 Some help.\n"},
  };
  for (const auto &c : cases) {
    fake_vornal::reset();
    fake_vornal::set_default(c.r);
    cli_opts.interactive = c.terminal;
    cli_state.status = 0;
    EXPECT_EQ(c.word ? run(c.h, {c.word}) : run(c.h, {}), c.want) << c.word;
  }
  EXPECT_EQ(fake_vornal::request_texts(),
            strings{"19(NULL,\"/n/w\",NULL,NULL,NULL)"});
}

TEST_F(Session, ABatchNeedsEveryRequestAndAnExactOkToClose) {
  fake_vornal::set_default(status_only("OK"));
  for (const char *status : {"ERR batch rejected", "O", (const char *)0}) {
    fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt,
                    status ? status_only(status) : kNoStatus);
    EXPECT_EQ(run(cmd_set, {"a=1", "b=2"}), "1 0 Set a: OK\nSet b: OK\n");
    EXPECT_FALSE(cli_state.modified);
  }
  fake_vornal::clear_requests();
  fake_vornal::on(VORNAL_MSG_SET, "/n", no_handle(), "b");
  EXPECT_EQ(run(cmd_set, {"a=1", "b=2", "c=3"}),
            "1 0 Set a: OK\nCouldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts().size(), 3u) << "c is not sent";
  fake_vornal::on(VORNAL_MSG_BATCH_OPEN, std::nullopt, no_handle());
  fake_vornal::clear_requests();
  EXPECT_EQ(run(cmd_set, {"a=1", "b=2"}),
            "1 0 Couldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts().size(), 1u);
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(Session, JournalKeepsTheFirstBranchAndOnlyChanges) {
  cli_opts.interactive = true;
  fake_vornal::set_default(status_only("OK"));
  cli_state.cwd = add({"a", "b"});
  auto run_line = [](const char *line, int replaying = 0) {
    printed([&] { run_command_line(line, replaying); });
  };
  run_line("set x=1");
  cli_state.cwd = cli_state.root;
  for (const char *line : {"help", "version", "list", "show", "sett x=1"})
    run_line(line);
  run_line("set x=3", 1);  // a replayed line
  run_line("set   y=2 ");
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  EXPECT_EQ(journal(), "set x=1|set   y=2 ");
  // A commit empties it but keeps the branch until the next journal.
  cli_state.modified = true;
  run_line("commit");
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  run_line("set x=2");
  EXPECT_EQ(cli_state.journal_branch, nullptr);  // the root's branch
  // A replay from a branch that is gone runs nothing and stays put.
  cli_node *elsewhere = add({"c"});
  free(cli_state.journal_branch);
  cli_state.journal_branch = cli_strdup("a/gone/");
  cli_state.cwd = elsewhere;
  EXPECT_EQ(printed([] { replay_journal(); }),
            "Unable to change to the branch that was current when the tree "
            "was first modified.\n");
  EXPECT_EQ(cli_state.cwd, elsewhere);
  EXPECT_EQ(journal(), "set x=2");
}

TEST_F(Session, AutocommitAtExitNeedsExactlyOk) {
  cli_state.modified = cli_state.autocommit = true;
  const struct {
    fake_vornal::reply reply;
    int allowed;
  } cases[] = {{status_only("OK"), 0},
               {status_only("OK then"), 1},
               {status_only("ok"), 1},
               {kNoStatus, 1},
               {no_handle(), 1}};
  for (const auto &c : cases) {
    fake_vornal::on(VORNAL_MSG_COMMIT, std::nullopt, c.reply);
    cli_state.exit_requested = false;
    EXPECT_EQ(printed([&] { EXPECT_EQ(cmd_exit(nullptr), c.allowed); }), "");
    EXPECT_EQ(cli_state.exit_requested, c.allowed == 0);
    EXPECT_TRUE(cli_state.modified) << "the end of the loop commits again";
  }
}

TEST_F(Session, NoopIntervalOptionsAndLoginStatusWords) {
  const std::pair<const char *, int> times[] = {
      {"", 1}, {"-t 12x", 12}, {"-t x", 0}, {"-t 5 -T", 0}, {"-T -t 3", 3}};
  for (const auto &[line, interval] : times) {
    std::string args = std::string("cli ") + line;
    std::vector<char *> argv;
    for (char *w = strtok(args.data(), " "); w; w = strtok(nullptr, " "))
      argv.push_back(w);
    optind = 0;
    ASSERT_EQ(parse_options((int)argv.size(), argv.data()), 0);
    EXPECT_EQ(cli_opts.noop_interval, interval) << line;
    release_session_texts();
  }
  // Status words match as prefixes, in order.
  std::string user = "alice";
  cli_state.user = user.data();
  cli_opts.interactive = false;  // no takeover question
  const struct {
    fake_vornal::reply r;
    int result;
    std::string printed;
  } logins[] = {
      {status_only("OKAY"), LOGIN_OK, ""},
      {status_only("INUSE2"), LOGIN_IN_USE,
       "Vorn in use and login not forced.\n"},
      {status_only("ok"), LOGIN_UNRECOGNISED, "Unrecognised response (ok).\n"},
      {kNoStatus, LOGIN_NO_REPLY,
       "Connection established but then timed out.\n"},
      {no_handle(), LOGIN_NO_REPLY,
       "Could not login as 'alice'.No message data received from vornal."},
  };
  for (const auto &c : logins) {
    fake_vornal::on(VORNAL_MSG_LOGIN, std::nullopt, c.r);
    int r = 0;
    EXPECT_EQ(printed([&] { r = send_login(false); }), c.printed);
    EXPECT_EQ(r, c.result);
  }
}

}  // namespace
