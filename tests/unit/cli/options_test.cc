// Environment and option parsing into the session records.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "shell/options.h"
#include "shell/state.h"
#include "shell/teardown.h"
#include "support/fake_vornal.h"

namespace {

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    fake_vornal::reset();
    for (const char *name : {"CLI_USER", "CLI_PASSWORD", "CLI_SERVER"})
      unsetenv(name);
  }
  void TearDown() override {
    release_session_texts();
    cli_reset_records();
  }
  // Parses argv (program name added) from a fresh getopt state.
  int parse(std::vector<std::string> args) {
    args_ = {"cli"};
    args_.insert(args_.end(), args.begin(), args.end());
    ptrs_.clear();
    for (std::string &a : args_) ptrs_.push_back(a.data());
    ptrs_.push_back(nullptr);
    optind = 0;
    return parse_options((int)args_.size(), ptrs_.data());
  }
  std::vector<std::string> args_;
  std::vector<char *> ptrs_;
};

TEST_F(OptionsTest, DefaultsTakeTheUserFromThePasswordDatabase) {
  ASSERT_EQ(parse({}), 0);
  struct passwd *pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  EXPECT_STREQ(cli_state.user, pw->pw_name);
  EXPECT_FALSE(cli_opts.user_is_static);
  EXPECT_STREQ(cli_opts.server, "/dev/vornd");
  EXPECT_TRUE(cli_opts.server_is_static);
  EXPECT_EQ(cli_state.password, nullptr);
  EXPECT_TRUE(cli_opts.password_is_static);
  EXPECT_FALSE(cli_state.password_from_env);
  EXPECT_EQ(cli_opts.noop_interval, 1);
}

TEST_F(OptionsTest, EnvironmentIsReadAndOptionsWinOverIt) {
  setenv("CLI_USER", "alice", 1);
  setenv("CLI_PASSWORD", "pw", 1);
  setenv("CLI_SERVER", "host:1", 1);
  ASSERT_EQ(parse({}), 0);
  EXPECT_STREQ(cli_state.user, "alice");
  EXPECT_STREQ(cli_state.password, "pw");
  EXPECT_FALSE(cli_opts.password_is_static);
  EXPECT_TRUE(cli_state.password_from_env);
  EXPECT_STREQ(cli_opts.server, "host:1");
  EXPECT_FALSE(cli_opts.server_is_static);
  release_session_texts();
  cli_reset_records();

  ASSERT_EQ(parse({"-U", "bob", "-s", "/dev/other"}), 0);
  EXPECT_STREQ(cli_state.user, "bob");
  EXPECT_STREQ(cli_opts.server, "/dev/other");
  EXPECT_STREQ(cli_state.password, "pw");
  // -s changes only the server.
  EXPECT_EQ(cli_opts.noop_interval, 1);
}

TEST_F(OptionsTest, RepeatedOwnedTextsReplaceTheirCopies) {
  // The replaced copies must be released: the leak checker fails this test
  // otherwise.
  ASSERT_EQ(parse({"-s", "/a", "-s", "/b", "-U", "x", "-U", "y", "-f", "p",
                   "-f", "q"}),
            0);
  EXPECT_STREQ(cli_opts.server, "/b");
  EXPECT_STREQ(cli_state.user, "y");
  EXPECT_STREQ(cli_state.input_file, "q");
  // The copy is the shell's own, not the argument itself.
  EXPECT_NE(cli_state.input_file, args_[12].c_str());
}

TEST_F(OptionsTest, NumbersCountLeadingDigitsOnly) {
  ASSERT_EQ(parse({"-t", "12x"}), 0);
  EXPECT_EQ(cli_opts.noop_interval, 12);
  ASSERT_EQ(parse({"-t", "x"}), 0);
  EXPECT_EQ(cli_opts.noop_interval, 0);
  ASSERT_EQ(parse({"-t", "5", "-T"}), 0);
  EXPECT_EQ(cli_opts.noop_interval, 0);
  ASSERT_EQ(parse({"-T", "-t", "3"}), 0);
  EXPECT_EQ(cli_opts.noop_interval, 3);
}

TEST_F(OptionsTest, FlagsAndCommandWords) {
  EXPECT_FALSE(fake_vornal::debugging());
  ASSERT_EQ(parse({"-C", "-F", "-q", "-d", "7", "-D", "set", "a=1"}), 0);
  EXPECT_TRUE(fake_vornal::debugging());
  EXPECT_TRUE(cli_state.autocommit);
  EXPECT_TRUE(cli_state.force_login);
  EXPECT_TRUE(cli_state.quiet);
  ASSERT_EQ(optind, 7);
  EXPECT_EQ(args_[(size_t)optind], "set");
}

TEST_F(OptionsTest, DashCReportsItsLetterAndStopsScanning) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(parse({"-c", "x", "-C"}), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Unrecognised option: c.\n");
  EXPECT_FALSE(cli_state.autocommit);
}

TEST_F(OptionsTest, VersionHelpAndErrorsEndStartUp) {
  // The texts are checked byte for byte end to end; here the results and
  // that nothing after them is looked at.
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int results[] = {parse({"-V", "-C"}), parse({"-h", "-C"}),
                   parse({"-?", "-C"}), parse({"-v", "-C"}), parse({"-t"})};
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(results[0], OPTIONS_DONE);
  EXPECT_EQ(results[1], OPTIONS_DONE);
  EXPECT_EQ(results[2], -1);
  EXPECT_EQ(results[3], -1);
  EXPECT_EQ(results[4], -1);
  EXPECT_FALSE(cli_state.autocommit);
}

}  // namespace
