// The connection check after each line and the prompt, with the library
// stand-in reporting the connection states.
#include <fcntl.h>
#include <unistd.h>

#include "shell/connection.h"
#include "shell/input.h"
#include "shell/read_loop.h"
#include "tree/path.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

class ConnectionTest : public TreeTest {
 protected:
  // The yes/no question must find no terminal, whatever runs the tests.
  void SetUp() override {
    TreeTest::SetUp();
    saved_stdin_ = dup(0);
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    close(null_fd);
    cli_opts.interactive = true;
    cli_opts.noop_interval = 1;
  }
  void TearDown() override {
    dup2(saved_stdin_, 0);
    close(saved_stdin_);
    TreeTest::TearDown();
  }
  int saved_stdin_ = -1;
};

const char kAsk[] = "Would you like to try to reconnect? y/N\n";

TEST_F(ConnectionTest, UsableStatesGoOnSilently) {
  for (int state : {VORNAL_STATE_CONNECTED, VORNAL_STATE_HUNG}) {
    fake_vornal::set_connection_state(state);
    EXPECT_TRUE(connection_ok());
    EXPECT_EQ(printed([] { EXPECT_EQ(check_connection(), 0); }), "");
  }
  EXPECT_EQ(fake_vornal::connect_calls(), 0);
}

TEST_F(ConnectionTest, ScriptsLeaveALostConnectionToTheCommands) {
  cli_opts.interactive = false;
  fake_vornal::set_connection_state(VORNAL_STATE_LOST);
  EXPECT_FALSE(connection_ok());
  EXPECT_EQ(printed([] { EXPECT_EQ(check_connection(), 0); }), "");
}

TEST_F(ConnectionTest, LossIsExplainedAndNoAnswerEndsWithNoopsStopped) {
  const struct {
    int state;
    std::string message;
  } cases[] = {
      {VORNAL_STATE_LOST,
       "The connection to vornd has timed out or vornd has been killed.\n"},
      {VORNAL_STATE_ENDED, "Another user has logged in, logging you out.\n"},
      {VORNAL_STATE_NOT_CONNECTED, ""},
  };
  for (const auto &c : cases) {
    fake_vornal::reset();
    vornal_set_keep_alive(1, 0);
    fake_vornal::set_connection_state(c.state);
    EXPECT_EQ(printed([] { EXPECT_NE(check_connection(), 0); }),
              c.message + kAsk);
    EXPECT_EQ(fake_vornal::keep_alive_seconds(), 0) << "no-ops stay stopped";
    EXPECT_EQ(fake_vornal::connect_calls(), 0);
  }
}

TEST_F(ConnectionTest, PromptShowsTheBranchWithoutItsLastSeparator) {
  EXPECT_EQ(take(build_prompt()), "cli -> ");
  cli_state.cwd = add({"net", "eth0"});
  EXPECT_EQ(take(build_prompt()), "net/eth0 -> ");
  cli_state.cwd = add({"a"});
  EXPECT_EQ(take(build_prompt()), "a -> ");
  free_tree();
  EXPECT_EQ(take(build_prompt()), "cli -> ") << "no tree at all";
}

}  // namespace
