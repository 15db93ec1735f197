// Scripts through the real cli against the real vornd: exact transcripts
// and exit statuses for files, pipes and command words, the statuses that
// dispatch and the parser set, and bad input that must not crash or hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "support/daemon.h"
#include "support/run.h"

namespace {

// Runs cli against d with the given script on a pipe (or, with file set,
// through -f of a file holding it) and extra arguments in front.
e2e::RunResult run_cli(const e2e::Daemon &d, const std::string &script,
                       std::vector<std::string> args = {}, bool file = false) {
  e2e::RunRequest req;
  req.program = e2e::bin_path("cli");
  req.argv = {"cli", "-T", "-s", d.socket()};
  if (file) {
    std::string path = d.dir() + "/script.cli";
    std::ofstream(path, std::ios::binary) << script;
    req.argv.insert(req.argv.end(), {"-f", path});
  } else {
    req.input = script;
  }
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.env = {"CLI_USER=root"};
  req.timeout_ms = 60000;
  return e2e::run(req);
}

// The exit code of a status value as the system reports it.
int code(int status) {
  return status & 0xff;
}

const std::string kOnly = "' only works in interactive mode.\n";

TEST(ScriptTranscript, InteractiveOnlyCommandsAreRefusedWithMinus15) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "quit\nrevert\nexit!\n");
  EXPECT_EQ(r.out, "cli -> quit\n'exit" + kOnly + "cli -> revert\n'revert" +
                       kOnly + "cli -> exit!\n'exit!" + kOnly);
  EXPECT_EQ(r.exit_code(), code(-15)) << r.err;
}

TEST(ScriptTranscript, UnknownCommandIsMinus16AndALaterFailureWins) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "frob nicate\n");
  EXPECT_EQ(r.out,
            "cli -> frob nicate\nParse error: frob is not a valid command.\n");
  EXPECT_EQ(r.exit_code(), code(-16));
  r = run_cli(d, "frob\ncommit\n");
  EXPECT_EQ(r.exit_code(), code(-15)) << "the last failure sets the status";
  r = run_cli(d, "commit\nfrob\n");
  EXPECT_EQ(r.exit_code(), code(-16));
}

TEST(ScriptTranscript, MissingRequiredWordIsMinus17) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "get\n");
  EXPECT_EQ(r.out.rfind("cli -> get\nParse error: ", 0), 0u) << r.out;
  EXPECT_EQ(r.exit_code(), code(-17));
}

TEST(ScriptTranscript, CommandNotYetWrittenIsMinus14) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "rename /network/interfaces/eth1 wan\n");
  EXPECT_EQ(r.out,
            "cli -> rename /network/interfaces/eth1 wan\n"
            "'rename' is not yet implemented.\n");
  EXPECT_EQ(r.exit_code(), code(-14));
}

TEST(ScriptTranscript, FirstEmptyLineEndsTheInputButBlankLinesDoNot) {
  e2e::Daemon d;
  const std::string script = "commit\n   \n\nquit\n";
  const std::string expected =
      "cli -> commit\n'commit" + kOnly + "cli ->    \ncli -> \n";
  for (bool file : {false, true}) {
    e2e::RunResult r = run_cli(d, script, {}, file);
    EXPECT_EQ(r.out, expected) << (file ? "file" : "pipe");
    EXPECT_EQ(r.exit_code(), code(-15)) << "quit never ran";
  }
  e2e::RunResult r = run_cli(d, script, {"-f", "-"});
  EXPECT_EQ(r.out, expected) << "-f -";
}

TEST(ScriptTranscript, LastLineWithoutLineEndStillRuns) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "frob\ncommit");
  EXPECT_EQ(r.out,
            "cli -> frob\nParse error: frob is not a valid command.\n"
            "cli -> commit\n'commit" +
                kOnly);
  EXPECT_EQ(r.exit_code(), code(-15));
  r = run_cli(d, "");
  EXPECT_EQ(r.out, "") << "nothing read, nothing echoed";
  EXPECT_EQ(r.exit_code(), 0);
}

TEST(ScriptTranscript, CommandWordsRunOnceWithoutPromptOrEcho) {
  e2e::Daemon d;
  e2e::RunResult r = run_cli(d, "", {"quit"});
  EXPECT_EQ(r.out, "'exit" + kOnly);
  EXPECT_EQ(r.exit_code(), code(-15));
  // Command words win over -f: the script is not read.
  r = run_cli(d, "frob\n", {"commit"}, true);
  EXPECT_EQ(r.out, "'commit" + kOnly);
  EXPECT_EQ(r.exit_code(), code(-15));
}

TEST(ScriptTranscript, BadInputNeitherCrashesNorHangs) {
  e2e::Daemon d;
  std::string script;
  script += "frob " + std::string(1 << 18, 'x') + "\n";  // a 256 KiB line
  script += "get \"/system\n";                           // unbalanced quote
  script += "get hostname\\\n";                          // trailing backslash
  script += "get \\\n";
  script += std::string(
      "\x01\x02\x7f\xff\xfe \x1b"
      "frob\n",
      12);
  script += std::string("\0\0\0 commit\n", 11);
  script += "\t\t\"\"\"\\\\\\\n";
  script += "commit\n";
  e2e::RunResult r = run_cli(d, script);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.signal(), 0) << r.err;
  const std::string tail = "cli -> commit\n'commit" + kOnly;
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail)
      << "every line before the last one was read and run";
  EXPECT_EQ(r.exit_code(), code(-15));
}

}  // namespace
