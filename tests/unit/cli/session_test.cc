// The command queue, the teardown and the interrupt handling.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "shell/interrupt.h"
#include "shell/queue.h"
#include "shell/state.h"
#include "shell/teardown.h"
#include "support/fake_vornal.h"
#include "tree/node.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "vornal.h"

namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    fake_vornal::reset();
  }
  void TearDown() override {
    clear_command_queue();
    signal(SIGINT, SIG_DFL);
    cli_reset_records();
  }
};

TEST_F(SessionTest, QueueIsFirstInFirstOutWithOwnCopies) {
  EXPECT_EQ(dequeue_command(), nullptr);
  char line[] = "set a=1";
  ASSERT_EQ(queue_command(line), 0);
  ASSERT_EQ(queue_command("list"), 0);
  EXPECT_EQ(cli_state.use_queue, 1);
  line[0] = 'X';
  char *first = dequeue_command();
  EXPECT_STREQ(first, "set a=1");
  free(first);
  ASSERT_EQ(queue_command("show"), 0);
  char *second = dequeue_command();
  EXPECT_STREQ(second, "list");
  free(second);
  char *third = dequeue_command();
  EXPECT_STREQ(third, "show");
  free(third);
  EXPECT_EQ(dequeue_command(), nullptr);
  EXPECT_EQ(cli_state.command_queue, nullptr);
}

TEST_F(SessionTest, EndSessionStopsNoopsLogsOutAndReleasesOwnedTexts) {
  vornal_set_keep_alive(5, 0);
  cli_opts.server = cli_strdup("host:1");
  cli_opts.server_is_static = false;
  cli_state.user = cli_strdup("alice");
  cli_opts.user_is_static = false;
  cli_state.input_file = cli_strdup("script");
  cli_state.journal_branch = cli_strdup("net/");
  strlist_append(&cli_state.journal, cli_strdup("set a=1"));
  cli_state.root = create_node(nullptr, "", 0);
  cli_state.cwd = cli_state.root;
  cli_state.completion_line = strdup("li");
  // A password typed at the prompt is not owned and stays.
  char *typed = cli_strdup("typed");
  cli_state.password = typed;
  queue_command("never run");
  end_session();
  EXPECT_EQ(fake_vornal::keep_alive_seconds(), 0);
  EXPECT_EQ(fake_vornal::request_texts(),
            (std::vector<std::string>{R"(23("","","","",""))"}));
  EXPECT_EQ(fake_vornal::live_handles(), 0);
  // Released blocks are also caught by the leak checker if missed.
  EXPECT_EQ(cli_state.user, nullptr);
  EXPECT_EQ(cli_state.input_file, nullptr);
  EXPECT_EQ(cli_state.journal_branch, nullptr);
  EXPECT_EQ(cli_state.journal, nullptr);
  EXPECT_EQ(cli_state.root, nullptr);
  EXPECT_EQ(cli_state.completion_line, nullptr);
  EXPECT_EQ(cli_state.command_queue, nullptr);
  EXPECT_EQ(cli_state.password, typed);
  cli_free(typed);
}

TEST_F(SessionTest, HandlerRestartsReadsAndOnlyRecords) {
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
  testing::internal::CaptureStdout();
  act_on_interrupt();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "\nThere are uncommited changes. Press ctl-c again exit anyway.\n");
  EXPECT_FALSE(cli_state.typed_since_mark);
  EXPECT_FALSE(interrupt_pending());
  ASSERT_EQ(write(p[1], "k", 1), 1);
  EXPECT_EQ(wait_for_input(p[0]), 1);
  close(p[0]);
  close(p[1]);
}

TEST_F(SessionTest, InterruptDuringAWaitEndsIt) {
  ASSERT_EQ(install_interrupt_handler(), 0);
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::thread sender([] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // deliver to the waiter
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(getpid(), SIGINT);
  });
  EXPECT_EQ(wait_for_input(p[0]), 0);
  sender.join();
  cli_state.modified = true;
  cli_state.typed_since_mark = true;
  testing::internal::CaptureStdout();
  act_on_interrupt();
  testing::internal::GetCapturedStdout();
  close(p[0]);
  close(p[1]);
}

TEST_F(SessionTest, InterruptWithoutChangesLogsOutAndDiesBySigint) {
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

}  // namespace
