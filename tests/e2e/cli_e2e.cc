// The cli program where a transcript cannot say it: the greeting with a
// message of the day, and ctrl-c while a script waits on a pipe. The
// greeting needs a file at the shipped path /etc/zarcli/motd without
// touching the machine's /etc and without a test-only switch in the
// program: the run happens in a private mount namespace (unshare -m, which
// needs root as in CI) where a read-only overlay puts a test folder holding
// zarcli/motd on top of /etc.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/e2e.h"

namespace e2e {
namespace {

TEST(CliGreeting, ALargeMotdIsWrittenWholeAndQuietShowsNothing) {
  if (!is_root()) GTEST_SKIP() << "needs root for a private mount namespace";
  Daemon d;
  TempDir dir;
  std::string motd;
  for (int i = 0; motd.size() < 10000; ++i)
    motd += "line " + std::to_string(i) + " of the message of the day\n";
  std::filesystem::create_directories(dir.path + "/zarcli");
  std::ofstream(dir.path + "/zarcli/motd", std::ios::binary) << motd;
  for (bool quiet : {false, true}) {
    std::vector<std::string> argv = {
        "/usr/bin/unshare",
        "-m",
        "sh",
        "-c",
        "mount --make-rprivate / && mount -t overlay overlay -o lowerdir=" +
            dir.path + ":/etc /etc && exec $VELMAR_EMULATOR \"$0\" \"$@\"",
        bin_path("cli"),
        "-s",
        d.socket()};
    if (quiet) argv.push_back("-q");
    Pty pty(argv, {"CLI_PASSWORD=unused", "TERM=dumb"});
    EXPECT_TRUE(pty.expect("cli -> ")) << pty.output();
    pty.send("exit\r");
    EXPECT_TRUE(exited_with(pty.wait(), 0)) << pty.output();
    EXPECT_TRUE(
        without_cr(pty.output())
            .starts_with(quiet ? "cli -> "
                               : "Velmar CLI 3.0 (2013-04-12T14:54-0700)\n"
                                 "Attempting to connect to " +
                                     d.socket() + " as root.\n" + motd +
                                     "\nWARNING: Using the CLI_PASSWORD "
                                     "environmental variable is insecure.\n"))
        << pty.output();
  }
}

// A script read from a pipe whose writer stays: ctrl-c ends the wait for
// the next line at once, even with changes, and a line that arrives with
// the interrupt does not run. Output goes to a terminal only to be seen
// line by line.
TEST(ScriptInput, CtrlCWhileWaitingForALineEndsAtOnce) {
  Daemon d;
  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  Pty p({"cli", "-s", d.socket()}, {"CLI_USER=" + user()}, in[0]);
  close(in[0]);
  signal(SIGPIPE, SIG_IGN);  // a shell that ended early fails, not the test
  auto type = [&](const std::string &line) {
    return write(in[1], line.data(), line.size()) == (ssize_t)line.size();
  };
  ASSERT_TRUE(type("set /system hostname=gw\n"));
  EXPECT_TRUE(p.expect("Set hostname: OK\r\n")) << p.output();
  kill(p.pid(), SIGINT);
  ASSERT_TRUE(type("set /system hostname=late\n"));
  EXPECT_TRUE(killed_by(p.wait(2000), SIGINT)) << p.output();
  close(in[1]);
  EXPECT_EQ(without_cr(p.output()),
            "cli -> set /system hostname=gw\nSet hostname: OK\n\nBye!\n");
}

}  // namespace
}  // namespace e2e
