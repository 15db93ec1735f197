// Start-up: environment and options into the session records, and the
// login with its status words and takeover rule. The texts and exit codes
// of the whole program are in the startup transcript.
#include <stdlib.h>
#include <unistd.h>

#include "link/login.h"
#include "shell/options.h"
#include "shell/teardown.h"
#include "test_util.h"

namespace {

class Start : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    fake_vornal::reset();
    for (const char *name : {"CLI_USER", "CLI_PASSWORD", "CLI_SERVER"})
      unsetenv(name);
    cli_opts.interactive = false;  // no takeover question
  }
  void TearDown() override {
    release_session_texts();
    cli_reset_records();
  }
  // Parses argv (program name added) from a fresh getopt state.
  int parse(std::vector<std::string> args) {
    release_session_texts();
    cli_reset_records();
    args_ = {"cli"};
    args_.insert(args_.end(), args.begin(), args.end());
    ptrs_.clear();
    for (std::string &a : args_) ptrs_.push_back(a.data());
    ptrs_.push_back(nullptr);
    optind = 0;
    return parse_options((int)args_.size(), ptrs_.data());
  }
  // Sends a login and returns its result and what it printed.
  std::string login(bool force) {
    int r = 0;
    std::string out = printed([&] { r = send_login(force); });
    return std::to_string(r) + " " + out;
  }
  strings args_;
  std::vector<char *> ptrs_;
};

// Repeated options, CLI_PASSWORD and the login requests with -F, without a
// password and with an empty one are in the startup transcript, shown by -D.
TEST_F(Start, NumbersFlagsAndCommandWords) {
  const struct {
    strings args;
    int interval;
  } times[] = {{{}, 1},
               {{"-t", "12x"}, 12},
               {{"-t", "x"}, 0},
               {{"-t", "5", "-T"}, 0},
               {{"-T", "-t", "3"}, 3}};
  for (const auto &t : times) {
    ASSERT_EQ(parse(t.args), 0);
    EXPECT_EQ(cli_opts.noop_interval, t.interval) << t.args.size();
  }
  ASSERT_EQ(parse({"-C", "-F", "-q", "-d", "7", "-D", "set", "a=1"}), 0);
  EXPECT_TRUE(cli_state.autocommit && cli_state.force_login && cli_state.quiet);
  ASSERT_EQ(optind, 7);
}

TEST_F(Start, LoginStatusWordsMatchAsPrefixesInOrder) {
  std::string user = "alice";
  cli_state.user = user.data();
  const struct {
    const char *status;
    int result;
    std::string printed;
  } cases[] = {
      {"OKAY", LOGIN_OK, ""},
      {"INUSE2", LOGIN_IN_USE, "Vorn in use and login not forced.\n"},
      {"ok", LOGIN_UNRECOGNISED, "Unrecognised response (ok).\n"},
      {"", LOGIN_UNRECOGNISED, "Unrecognised response ().\n"},
  };
  for (const auto &c : cases) {
    fake_vornal::reset();
    fake_vornal::on(VORNAL_MSG_LOGIN, std::nullopt, status_only(c.status));
    EXPECT_EQ(login(false), std::to_string(c.result) + " " + c.printed);
  }
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_LOGIN, std::nullopt, no_handle(), 1);
  EXPECT_EQ(login(false),
            std::to_string(LOGIN_NO_REPLY) +
                " Could not login as 'alice'.No message data received from "
                "vornal.");
  fake_vornal::on(VORNAL_MSG_LOGIN, std::nullopt, status_only(std::nullopt));
  EXPECT_EQ(login(false), std::to_string(LOGIN_NO_REPLY) +
                              " Connection established but then timed out.\n");
  EXPECT_EQ(fake_vornal::live_handles(), 0);
}

}  // namespace
