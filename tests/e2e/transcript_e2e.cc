// Runs the transcripts of transcripts/*.txt: each file gets its own vornd
// (its cases run in order, so a commit shows in later cases) and each case
// runs the real cli once. The format is described in transcripts/README.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace {

const std::string kDir =
    std::string(VELMAR_SOURCE_DIR) + "/tests/e2e/transcripts";

struct Case {
  std::string name, script, out, err;
  std::vector<std::string> args, env = {"CLI_USER=@USER@"};
  bool argv_given = false, has_out = false, has_err = false, has_status = false;
  bool script_file = false;
  uid_t uid = (uid_t)-1;
  int status = 0, line = 0;
};

// Returns text with every @SOCKET@, @DIR@ and @USER@ replaced.
std::string fill(std::string text, const e2e::Daemon &d) {
  for (auto [key, value] :
       {std::pair<std::string, std::string>{"@SOCKET@", d.socket()},
        {"@DIR@", d.dir()},
        {"@USER@", e2e::user()}})
    for (size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  return text;
}

// Returns the lines of a section's text.
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// Stores a finished section of c.
void put(Case &c, const std::string &section, const std::string &text) {
  if (section == "script" || section == "script noeol")
    c.script = section == "script" ? text : text.substr(0, text.size() - 1);
  else if (section == "script file")
    c.script = text, c.script_file = true;
  else if (section == "output")
    c.out = text, c.has_out = true;
  else if (section == "stderr")
    c.err = text, c.has_err = true;
  else if (section == "status")
    c.status = std::stoi(text) & 0xff, c.has_status = true;
  else if (section == "args" || section == "argv")
    c.args = lines_of(text), c.argv_given = section == "argv";
  else if (section == "env")
    c.env = lines_of(text);
  else if (section == "uid")
    c.uid = (uid_t)std::stoul(text);
  else
    ADD_FAILURE() << c.name << ": unknown section " << section;
}

// Reads the cases of one transcript file.
std::vector<Case> read_cases(const std::string &path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<Case> cases;
  std::string line, section, text;
  int number = 0;
  auto close = [&] {
    if (!section.empty()) put(cases.back(), section, text);
    section.clear(), text.clear();
  };
  while (std::getline(in, line)) {
    ++number;
    if (line.rfind("=== ", 0) == 0) {
      close();
      cases.push_back({});
      cases.back().name = line.substr(4), cases.back().line = number;
    } else if (line.rfind("--- ", 0) == 0 && !cases.empty()) {
      close();
      section = line.substr(4);
    } else if (!section.empty()) {
      text += line + "\n";
    }
  }
  close();
  return cases;
}

// Runs one case against d and checks output, stderr and status.
void run_case(const Case &c, const e2e::Daemon &d) {
  SCOPED_TRACE(c.name + " (line " + std::to_string(c.line) + ")");
  if (c.uid != (uid_t)-1 && c.uid != geteuid() && !e2e::is_root()) {
    std::cout << "skipped \"" << c.name << "\": needs root to run as uid "
              << c.uid << "\n";
    return;
  }
  std::vector<std::string> argv = {"cli"};
  std::vector<std::string> env;
  for (const std::string &e : c.env) env.push_back(fill(e, d));
  if (!c.argv_given) argv.insert(argv.end(), {"-T", "-s", d.socket()});
  if (c.script_file) {
    std::ofstream(d.dir() + "/script.cli", std::ios::binary) << c.script;
    argv.insert(argv.end(), {"-f", d.dir() + "/script.cli"});
  }
  for (const std::string &a : c.args) argv.push_back(fill(a, d));
  e2e::RunResult r =
      e2e::run(argv, c.script_file ? "" : c.script, env, c.uid, 20000);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.out, fill(c.out, d)) << "stderr:\n" << r.err;
  EXPECT_EQ(c.has_err ? r.err : "", c.has_err ? fill(c.err, d) : "");
  EXPECT_TRUE(c.has_out && c.has_status) << "output or status section missing";
  EXPECT_EQ(r.exit_code(), c.status) << r.err;
}

class Transcript : public testing::TestWithParam<std::string> {};

TEST_P(Transcript, Run) {
  std::vector<Case> cases = read_cases(kDir + "/" + GetParam() + ".txt");
  ASSERT_FALSE(cases.empty());
  e2e::Daemon d;
  for (const Case &c : cases) run_case(c, d);
}

// Returns the stems of the transcript files, sorted.
std::vector<std::string> transcript_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(kDir, ec))
    if (e.path().extension() == ".txt") names.push_back(e.path().stem());
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Files, Transcript,
                         testing::ValuesIn(transcript_names()),
                         [](const auto &info) { return info.param; });

// Input no transcript can hold: a 256 KiB line and raw control bytes.
TEST(TranscriptInput, BadInputNeitherCrashesNorHangs) {
  e2e::Daemon d;
  std::string input = "frob " + std::string(1 << 18, 'x') +
                      "\nget \"/system\n" + "get hostname\\\nget \\\n" +
                      std::string(
                          "\x01\x02\x7f\xff\xfe \x1b"
                          "frob\n",
                          12) +
                      std::string("\0\0\0 commit\n", 11) +
                      "\t\t\"\"\"\\\\\\\ncommit\n";
  e2e::RunResult r = e2e::run({"cli", "-T", "-s", d.socket()}, input,
                              {"CLI_USER=" + e2e::user()}, (uid_t)-1, 60000);
  ASSERT_FALSE(r.timed_out);
  EXPECT_NE(r.exit_code(), -1) << "killed: " << r.err;
  // Every line before the last was read and run; the last one set the status.
  EXPECT_TRUE(r.out.ends_with(
      "cli -> commit\n'commit' only works in interactive mode.\n"));
  EXPECT_EQ(r.exit_code(), 256 - 15);
}

// A script read from a pipe whose writer stays: ctrl-c ends the wait for
// the next line at once, even with changes, and a line that arrives with
// the interrupt does not run. Output goes to a terminal only to be seen
// line by line.
TEST(ScriptInput, CtrlCWhileWaitingForALineEndsAtOnce) {
  e2e::Daemon d;
  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  e2e::Pty p({"cli", "-s", d.socket()}, {"CLI_USER=" + e2e::user()}, in[0]);
  close(in[0]);
  signal(SIGPIPE, SIG_IGN);  // a shell that ended early fails, not the test
  auto type = [&](const std::string &line) {
    return write(in[1], line.data(), line.size()) == (ssize_t)line.size();
  };
  ASSERT_TRUE(type("set /system hostname=gw\n"));
  EXPECT_TRUE(p.expect("Set hostname: OK\r\n")) << p.output();
  kill(p.pid(), SIGINT);
  ASSERT_TRUE(type("set /system hostname=late\n"));
  EXPECT_TRUE(e2e::killed_by(p.wait(2000), SIGINT)) << p.output();
  close(in[1]);
  EXPECT_EQ(e2e::without_cr(p.output()),
            "cli -> set /system hostname=gw\nSet hostname: OK\n\nBye!\n");
}

}  // namespace
