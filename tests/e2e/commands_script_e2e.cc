// cd, help, version, the listings, get and set as scripts through the real
// cli against the real vornd and its demo model: exact transcripts and exit
// statuses. Each test starts its own daemon, so committed values never leak.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/daemon.h"
#include "support/run.h"

namespace {

// Runs cli without a terminal on d with script on standard input and
// extra options in front.
e2e::RunResult run_cli(const e2e::Daemon &d, const std::string &script,
                       std::vector<std::string> extra = {}) {
  e2e::RunRequest job;
  job.program = e2e::bin_path("cli");
  job.argv = {"cli", "-T", "-s", d.socket()};
  job.argv.insert(job.argv.end(), extra.begin(), extra.end());
  job.env = {"CLI_USER=root"};
  job.input = script;
  job.timeout_ms = 20000;
  return e2e::run(job);
}

// The exit code of a negative status as the system reports it.
int code(int status) {
  return status & 0xff;
}

const char kNoCommit[] = "No autocommit - changes not saved.\n";

TEST(CommandsScript, ListingsLeaveHiddenBranchesOut) {
  e2e::Daemon d;
  e2e::RunResult r =
      run_cli(d, "list\nlist /system\nlistr /services\nlist /debug\n");
  EXPECT_EQ(r.out,
            "cli -> list\n"
            "  system\n  network\n  services\n  users\n  status\n"
            "cli -> list /system\n"
            "system\n  hostname\n  timezone\n  location\n  contact\n"
            "  log-level\n"
            "cli -> listr /services\n"
            "services\n"
            "  ssh\n    enabled\n    port\n    listen-interface\n"
            "    permit-root-login\n"
            "  ntp\n    enabled\n    server\n    poll-interval\n"
            "  vpn\n    enabled\n    protocol\n    peer\n"
            "  snmp\n    enabled\n"
            "cli -> list /debug\n"
            "  trace\n  core-dumps\n");
  EXPECT_EQ(r.exit_code(), 0) << r.err;
}

TEST(CommandsScript, ShowGivesValuesOnlyToReadableNodes) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "show /services/ssh\nshowr /status\n");
  EXPECT_EQ(r.out,
            "cli -> show /services/ssh\n"
            "ssh\n  enabled=true\n  port=22\n  listen-interface=eth0\n"
            "  permit-root-login=no\n"
            "cli -> showr /status\n"
            "status\n  uptime=0\n  firmware=3.0.0\n  interfaces\n"
            "    eth0\n      link=down\n      rx-bytes=0\n      tx-bytes=0\n"
            "    eth1\n      link=down\n      rx-bytes=0\n      tx-bytes=0\n");
  EXPECT_EQ(r.exit_code(), 0) << r.err;
}

TEST(CommandsScript, ListingOfAMissingPathIsMinus13) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "list /system/nope\nshowr /nope/x\n");
  EXPECT_EQ(r.out,
            "cli -> list /system/nope\n/system/nope is not a valid path.\n"
            "cli -> showr /nope/x\n/nope/x is not a valid path.\n");
  EXPECT_EQ(r.exit_code(), code(-13)) << r.err;
}

TEST(CommandsScript, GetPrintsValuesAndAMissingOneIsMinus10) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(
      d, "get /system hostname\nget /network/dns domain\nget /system nope\n");
  EXPECT_EQ(r.out,
            "cli -> get /system hostname\nGet hostname: velmar\n"
            "cli -> get /network/dns domain\nGet domain: lan\n"
            "cli -> get /system nope\n"
            "Get nope: ERR No such file or directory\n");
  EXPECT_EQ(r.exit_code(), code(-10)) << r.err;
}

TEST(CommandsScript, SetOneThenThreeInWordOrder) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(
      d,
      "set /system hostname=box\n"
      "set /system log-level=debug contact=\"Jane Doe\" location=Lab\\\"2\\\"\n"
      "get /system hostname\nget /system log-level\n"
      "get /system contact\nget /system location\n");
  EXPECT_EQ(r.out,
            "cli -> set /system hostname=box\nSet hostname: OK\n"
            "cli -> set /system log-level=debug contact=\"Jane Doe\" "
            "location=Lab\\\"2\\\"\n"
            "Set log-level: OK\nSet contact: OK\nSet location: OK\n"
            "cli -> get /system hostname\nGet hostname: box\n"
            "cli -> get /system log-level\nGet log-level: debug\n"
            "cli -> get /system contact\nGet contact: Jane Doe\n"
            "cli -> get /system location\nGet location: Lab\"2\"\n" +
                std::string(kNoCommit));
  EXPECT_EQ(r.exit_code(), 0) << r.err;
}

TEST(CommandsScript, RefusedValueFailsTheWholeBatchWithMinus19) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d,
                             "set /system contact=x log-level=loud\n"
                             "get /system contact\n"
                             "set /system hostname=-bad\n"
                             "set /system/nope a=1\n");
  EXPECT_EQ(r.out,
            "cli -> set /system contact=x log-level=loud\n"
            "Set contact: OK\nSet log-level: ERR sanity check failed\n"
            "cli -> get /system contact\nGet contact: \n"
            "cli -> set /system hostname=-bad\n"
            "Set hostname: ERR sanity check failed\n"
            "cli -> set /system/nope a=1\n"
            "Set a: ERR No such file or directory\n");
  EXPECT_EQ(r.exit_code(), code(-10)) << r.err;
  r = run_cli(d, "set /system hostname=ok contact=y timezone=Mars\n");
  EXPECT_EQ(r.exit_code(), code(-19)) << r.out;
}

TEST(CommandsScript, EndOfScriptCommitsOnlyWithMinusC) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "set /system hostname=box\n");
  EXPECT_EQ(r.out, "cli -> set /system hostname=box\nSet hostname: OK\n" +
                       std::string(kNoCommit));
  EXPECT_EQ(r.exit_code(), 0) << r.err;
  EXPECT_EQ(run_cli(d, "get /system hostname\n").out,
            "cli -> get /system hostname\nGet hostname: velmar\n");
  r = run_cli(d, "set /system hostname=box\n", {"-C"});
  EXPECT_EQ(r.out,
            "cli -> set /system hostname=box\nSet hostname: OK\n"
            "Changes committed.\n");
  EXPECT_EQ(r.exit_code(), 0) << r.err;
  EXPECT_EQ(run_cli(d, "get /system hostname\n").out,
            "cli -> get /system hostname\nGet hostname: box\n");
}

TEST(CommandsScript, HelpDecodesTheDaemonsText) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(
      d, "help\nhelp /system\nhelp /system/hostname\nhelp /system nope=\n");
  EXPECT_EQ(r.out,
            "cli -> help\nThe device configuration.\n"
            "cli -> help /system\n"
            "Identity and basic settings of the device.\n"
            "cli -> help /system/hostname\n"
            "Name of the device: letters, digits and inner dashes.\n"
            "cli -> help /system nope=\n"
            "No help is available for this path.\n");
  EXPECT_EQ(r.exit_code(), 0) << r.err;
}

}  // namespace
