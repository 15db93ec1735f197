// Answers vornd never gives (no status, no handle, near misses), corners of
// the change journal, options and login; vornd's answers are transcripts.
#include <string.h>
#include <unistd.h>

#include "commands/handlers.h"
#include "lang/dispatch.h"
#include "link/login.h"
#include "shell/exit.h"
#include "shell/options.h"
#include "shell/read_loop.h"
#include "shell/teardown.h"
#include "test_util.h"
#include "tree/strlist.h"
#include "util/text.h"

namespace {

const fake_vornal::reply kNoStatus = status_only(std::nullopt);

class Session : public TreeTest {
 protected:
  // Runs line; returns the status and what it printed.
  std::string run(const char *line) {
    std::string out = printed([&] { run_command_line(line, 0); });
    return std::to_string(cli_state.status) + " " + out;
  }
  // The journal's lines joined by "|".
  std::string journal() {
    char **lines = cli_state.journal;
    return take(join_words("|", lines, strlist_count(lines)));
  }
};

TEST_F(Session, CommandsOnAnswersVorndNeverGives) {
  add({"n", "d"})->flags = add({"n", "g"})->flags = NODE_OP_GET | NODE_OP_SET;
  const std::string no_reply = "ERR No reply received.\n";
  const struct {
    const char *line;
    fake_vornal::reply r;
    bool terminal;
    std::string want;
  } cases[] = {
      {"create /n/x", kNoStatus, false, "-12 " + no_reply},
      {"delete /n/d", kNoStatus, false, "-12 " + no_reply},
      {"rename /n/d e", kNoStatus, false, "-12 " + no_reply},
      {"create /n/x", no_handle(), false, "0 "},
      {"rename /n/d e", no_handle(), false, "0 "},
      {"set /n d=1", kNoStatus, false, "-12 " + no_reply},
      {"set /n d=1", kNoStatus, true, "0 " + no_reply},
      // A lost request prints its line but leaves the status alone.
      {"set /n d=1", no_handle(), false, "0 Couldn't send.\n"},
      {"get /n g", no_handle(), false, "-12 " + no_reply},
      {"get /n g", no_handle(), true, "0 " + no_reply},
      // The help topic is the path with a slash, or its last parameter.
      {"help /n g=", kNoStatus, false,
       "0 No help is available for this path.\n"},
      {"help /n", no_handle(), false, "0 "},
      {"help /n", status_only("OK"), false, "0 "},
      {"help /n g=", answer("Some+help%2E"), false, "0 Some help.\n"},
  };
  for (const auto &c : cases) {
    fake_vornal::reset();
    fake_vornal::set_default(c.r);
    cli_opts.interactive = c.terminal;
    cli_state.status = 0;
    EXPECT_EQ(run(c.line), c.want) << c.line;
  }
  EXPECT_EQ(fake_vornal::request_texts(),
            strings{"19(NULL,\"/n/g\",NULL,NULL,NULL)"});
}

TEST_F(Session, ABatchNeedsEveryRequestAndAnExactOkToClose) {
  fake_vornal::set_default(status_only("OK"));
  for (const char *status : {"ERR batch rejected", "O", (const char *)0}) {
    fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt,
                    status ? status_only(status) : kNoStatus);
    EXPECT_EQ(run("set /n a=1 b=2"), "0 Set a: OK\nSet b: OK\n");
    EXPECT_FALSE(cli_state.modified);
  }
  fake_vornal::clear_requests();
  fake_vornal::on(VORNAL_MSG_SET, "/n", no_handle(), "b");
  EXPECT_EQ(run("set /n a=1 b=2 c=3"),
            "0 Set a: OK\nCouldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts().size(), 3u) << "c is not sent";
  fake_vornal::on(VORNAL_MSG_BATCH_OPEN, std::nullopt, no_handle());
  fake_vornal::clear_requests();
  EXPECT_EQ(run("set /n a=1 b=2"), "0 Couldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts().size(), 1u);
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(Session, JournalKeepsTheFirstBranchAndOnlyChanges) {
  cli_opts.interactive = true;
  fake_vornal::set_default(status_only("OK"));
  cli_state.cwd = add({"a", "b"});
  run("set x=1");
  cli_state.cwd = cli_state.root;
  for (const char *line : {"help", "version", "list", "show", "sett x=1"})
    run(line);
  printed([] { run_command_line("set x=3", 1); });  // a replayed line
  run("set   y=2 ");
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  EXPECT_EQ(journal(), "set x=1|set   y=2 ");
  // A commit empties it but keeps the branch until the next journal.
  cli_state.modified = true;
  run("commit");
  EXPECT_FALSE(cli_state.modified);
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_STREQ(cli_state.journal_branch, "a/b/");
  run("set x=2");
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
  for (fake_vornal::reply r : {status_only("OK"), status_only("OK then"),
                               status_only("ok"), kNoStatus, no_handle()}) {
    fake_vornal::on(VORNAL_MSG_COMMIT, std::nullopt, r);
    cli_state.exit_requested = false;
    int refused = -1;
    EXPECT_EQ(printed([&] { refused = cmd_exit(nullptr); }), "");
    EXPECT_EQ(refused, r.status != "OK");
    EXPECT_EQ(cli_state.exit_requested, !refused);
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
