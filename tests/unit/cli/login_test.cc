// Login: status words, arguments, failures and the takeover rule, through
// the in-process library stand-in.
#include <gtest/gtest.h>

#include <string>

#include "link/login.h"
#include "shell/state.h"
#include "support/fake_vornal.h"
#include "vornal.h"

namespace {

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    fake_vornal::reset();
    user_ = "alice";
    cli_state.user = user_.data();
    cli_opts.interactive = false;
  }
  void TearDown() override { cli_reset_records(); }
  // Answers every login with status.
  void answer_login(fake_vornal::text status) {
    fake_vornal::on(VORNAL_MSG_LOGIN, std::nullopt,
                    fake_vornal::status_only(status));
  }
  std::string user_;
};

TEST_F(LoginTest, StatusWordsMatchAsPrefixesInOrder) {
  struct {
    const char *status;
    int result;
    std::string printed;
  } cases[] = {
      {"OK", LOGIN_OK, ""},
      {"OKAY", LOGIN_OK, ""},
      {"INUSE2", LOGIN_IN_USE, "Vorn in use and login not forced.\n"},
      {"NOPE", LOGIN_REJECTED, "Authentication details were not accepted.\n"},
      {"ok", LOGIN_UNRECOGNISED, "Unrecognised response (ok).\n"},
      {"", LOGIN_UNRECOGNISED, "Unrecognised response ().\n"},
  };
  for (const auto &c : cases) {
    fake_vornal::reset();
    answer_login(c.status);
    testing::internal::CaptureStdout();
    EXPECT_EQ(send_login(false), c.result) << c.status;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.status;
    EXPECT_EQ(fake_vornal::live_handles(), 0) << c.status;
  }
}

TEST_F(LoginTest, ArgumentsCarryForceUserAndPassword) {
  answer_login("OK");
  EXPECT_EQ(send_login(false), LOGIN_OK);
  std::string password = "pw";
  cli_state.password = password.data();
  EXPECT_EQ(send_login(true), LOGIN_OK);
  // An empty password is sent as it is, not replaced by the user name.
  std::string empty;
  cli_state.password = empty.data();
  EXPECT_EQ(send_login(false), LOGIN_OK);
  EXPECT_EQ(fake_vornal::request_texts(),
            (std::vector<std::string>{
                R"(20("","","","alice","alice"))",
                R"(20("-force","","","alice","pw"))",
                R"(20("","","","alice",""))",
            }));
}

TEST_F(LoginTest, MissingReplyOrStatus) {
  fake_vornal::on(VORNAL_MSG_LOGIN, std::nullopt, fake_vornal::no_handle(), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send_login(false), LOGIN_NO_REPLY);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could not login as 'alice'.No message data received from vornal.");

  answer_login(std::nullopt);
  testing::internal::CaptureStdout();
  EXPECT_EQ(send_login(false), LOGIN_NO_REPLY);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Connection established but then timed out.\n");
  EXPECT_EQ(fake_vornal::live_handles(), 0);
}

TEST_F(LoginTest, ConnectFailurePassesTheCodeOnAndSendsNothing) {
  fake_vornal::set_connect_result(VORNAL_ERR_UNAVAILABLE);
  testing::internal::CaptureStdout();
  EXPECT_EQ(connect_and_login(), VORNAL_ERR_UNAVAILABLE);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            std::string("Connection to /dev/vornd failed - ") +
                vornal_conn_error(VORNAL_ERR_UNAVAILABLE) + "\n");
  EXPECT_EQ(fake_vornal::last_server(), "/dev/vornd");
  EXPECT_TRUE(fake_vornal::requests().empty());
}

TEST_F(LoginTest, InUseIsNotTakenOverWithoutAYes) {
  answer_login("INUSE");
  // Forced from the start: no question, one login.
  cli_state.force_login = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(connect_and_login(), LOGIN_IN_USE);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      fake_vornal::request_texts(),
      (std::vector<std::string>{R"(20("-force","","","alice","alice"))"}));

  // On a "terminal" that cannot be read the answer counts as no.
  fake_vornal::clear_requests();
  cli_state.force_login = false;
  cli_opts.interactive = true;
  testing::internal::CaptureStdout();
  EXPECT_EQ(connect_and_login(), LOGIN_IN_USE);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "There is an existing session. Would you like to kill it (this "
            "will log someone else out)? y/N\n");
  EXPECT_EQ(fake_vornal::requests().size(), 1u);
}

}  // namespace
