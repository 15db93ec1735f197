// Runs the transcripts of transcripts/*.txt: each file gets its own vornd
// (its cases run in order, so a commit shows in later cases) and each case
// runs the real cli once, from a script or on a terminal. The format is
// described in transcripts/README.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace {

const std::string kDir =
    std::string(VELMAR_SOURCE_DIR) + "/tests/e2e/transcripts";

struct Case {
  std::string name, out, script, err, status = "0", setup;
  e2e::Args args, env = {"CLI_USER=@USER@"};
  std::optional<e2e::Args> daemon;
  std::vector<std::pair<std::string, std::string>> files;
  bool argv_given = false, has_script = false, has_err = false;
  bool script_file = false, terminal = false, nohup = false, hold = false;
  uid_t uid = (uid_t)-1;
  int line = 0;
};

// What a file's cases share: its daemon and the texts that @NAME@ stands for.
struct Context {
  e2e::Daemon daemon;
  std::unique_ptr<e2e::RawClient> other;  // another session of the user
  size_t log_mark = 0;  // the daemon's log before the running case
  std::map<std::string, std::string> names;
  std::string fill(std::string text) const;
  e2e::Args fill(e2e::Args texts) const {
    for (std::string &t : texts) t = fill(t);
    return texts;
  }
};

std::string Context::fill(std::string text) const {
  for (const auto &[name, value] : names)
    for (size_t at = 0; (at = text.find('@' + name + '@', at)) != text.npos;
         at += value.size())
      text.replace(at, name.size() + 2, value);
  return text;
}

// Returns the lines of text; with words, a one-line text split at blanks.
e2e::Args lines_of(const std::string &text, bool words) {
  e2e::Args out;
  std::istringstream in(text);
  for (std::string l; words ? bool(in >> l) : bool(std::getline(in, l));)
    out.push_back(l);
  return out;
}

// Returns the lines a script echoes after its prompt ("cli -> " or a
// branch's, a word without ":"): the script a case without a script
// section runs.
std::string echoed_script(const std::string &out) {
  std::string script;
  for (const std::string &l : lines_of(out, false)) {
    size_t at = l.find(" -> ");
    if (at != std::string::npos && at > 0 && l.find_first_of(" :") == at)
      script += l.substr(at + 4) + "\n";
  }
  return script;
}

// Stores a finished section of c; inline is what followed the section name.
void put(Case &c, const std::string &section, const std::string &inline_text,
         const std::string &text) {
  const std::string &value = inline_text.empty() ? text : inline_text + "\n";
  e2e::Args words = lines_of(inline_text, true);
  e2e::Args list = words.empty() ? lines_of(text, false) : words;
  if (section == "script")
    c.has_script = true, c.script_file = inline_text == "file",
    c.script = inline_text == "noeol" ? text.substr(0, text.size() - 1) : text;
  else if (section == "stderr")
    c.err = value, c.has_err = true;
  else if (section == "status")
    c.status = lines_of(value, true).at(0);
  else if (section == "args" || section == "argv")
    c.args = list, c.argv_given = section == "argv";
  else if (section == "env")
    c.env = list;
  else if (section == "uid")
    c.uid = (uid_t)std::stoul(value);
  else if (section == "terminal")
    c.terminal = true, c.out = text,
    c.args.insert(c.args.end(), words.begin(), words.end());
  else if (section == "nohup" || section == "hold")
    (section == "hold" ? c.hold : c.nohup) = true;
  else if (section == "daemon")
    c.daemon = list;
  else if (section == "file")
    c.files.emplace_back(inline_text, text);
  else if (section == "setup")
    c.setup = text;
  else
    ADD_FAILURE() << c.name << ": unknown section " << section;
}

// Reads the cases of one transcript file; "define" sections before the
// first case go to names.
std::vector<Case> read_cases(const std::string &path,
                             std::map<std::string, std::string> &names) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<Case> cases;
  std::string line, section = "output", inline_text, text;
  int number = 0;
  auto close = [&] {
    if (section == "define") {
      names[inline_text] = text.substr(0, text.size() - !text.empty());
    } else if (cases.empty()) {
    } else if (section == "output") {
      cases.back().out = text;
    } else {
      put(cases.back(), section, inline_text, text);
    }
    section = "output", inline_text.clear(), text.clear();
  };
  while (std::getline(in, line)) {
    ++number;
    if (line.starts_with("=== ")) {
      close();
      cases.push_back({});
      cases.back().name = line.substr(4), cases.back().line = number;
    } else if (line.starts_with("--- ")) {
      close();
      size_t blank = line.find(' ', 4);
      section = line.substr(4, blank - 4);
      if (blank != std::string::npos) inline_text = line.substr(blank + 1);
    } else {
      text += line + "\n";
    }
  }
  close();
  return cases;
}

// Returns the argv a case runs with (the default options, then its own).
e2e::Args argv_of(const Case &c, const Context &x) {
  e2e::Args argv = {"cli"};
  if (!c.argv_given)
    for (const char *a : {c.terminal ? "-q" : "-T", "-s", "@SOCKET@"})
      argv.push_back(a);
  if (c.script_file) argv.insert(argv.end(), {"-f", "@DIR@/script.cli"});
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  return x.fill(argv);
}

// Returns the exit code or "SIG<NAME>" that a wait status stands for.
std::string status_text(int wait_status, bool timed_out) {
  if (timed_out || wait_status == -1) return "<no end>";
  if (WIFSIGNALED(wait_status))
    return "SIG" + std::string(sigabbrev_np(WTERMSIG(wait_status)));
  return std::to_string((int8_t)WEXITSTATUS(wait_status));
}

// Runs a script case against x's daemon and checks what it wrote.
void run_script(const Case &c, const Context &x) {
  std::string script = c.has_script ? c.script : echoed_script(c.out);
  if (c.script_file)
    std::ofstream(x.daemon.dir() + "/script.cli", std::ios::binary) << script;
  e2e::RunResult r = e2e::run(argv_of(c, x), c.script_file ? "" : script,
                              x.fill(c.env), c.uid, 20000);
  EXPECT_EQ(r.out, x.fill(c.out)) << "stderr:\n" << r.err;
  EXPECT_EQ(c.has_err ? r.err : "", c.has_err ? x.fill(c.err) : "");
  EXPECT_EQ(status_text(r.wait_status, r.timed_out), c.status) << r.err;
}

// One step of a terminal case: screen text to wait for, keys to type
// (echoed or not) or something done to the daemon or the terminal.
struct Step {
  enum Kind { text, keys, quiet_keys, action } kind;
  std::string value;
};

// Returns the steps of a terminal case's screen. Each line ends with a
// line end, but for one that holds only keys and actions, one that ends
// with Enter typed (its echo is the line end) and one that ends with the
// terminal hung up (nothing more is seen).
std::vector<Step> steps_of(const std::string &screen) {
  static const std::string marks[][2] = {{"«", "»"}, {"‹", "›"}, {"⟦", "⟧"}};
  std::vector<Step> steps;
  for (const std::string &line : lines_of(screen, false)) {
    bool plain = line.empty();
    for (size_t at = 0; at < line.size();) {
      size_t open = std::string::npos, which = 0;
      for (size_t i = 0; i < 3; ++i)
        if (size_t o = line.find(marks[i][0], at); o < open)
          open = o, which = i;
      plain = plain || open > at;
      steps.push_back({Step::text, line.substr(at, open - at)});
      if (open == std::string::npos) break;
      size_t from = open + marks[which][0].size();
      size_t close = line.find(marks[which][1], from);
      steps.push_back({Step::Kind(which + 1), line.substr(from, close - from)});
      at = close + marks[which][1].size();
    }
    const Step &last = steps.back();
    bool ended = !line.empty() &&
                 ((last.kind == Step::keys && last.value.ends_with("⏎")) ||
                  (last.kind == Step::action && last.value == "hangup"));
    if (plain && !ended) steps.push_back({Step::text, "\n"});
  }
  return steps;
}

// Returns the bytes that keys stand for and adds to echo what the terminal
// shows of them: ⏎ is Enter, ⇥ TAB, ^X a control key; ^? erases.
std::string key_bytes(const std::string &keys, std::string *echo) {
  std::string bytes;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys.compare(i, 3, "⏎") == 0)
      bytes += '\r', *echo += '\n', i += 2;
    else if (keys.compare(i, 3, "⇥") == 0)
      bytes += '\t', i += 2;
    else if (keys.compare(i, 2, "^?") == 0)
      bytes += '\x7f', *echo += "\b \b", ++i;
    else if (keys[i] == '^' && i + 1 < keys.size())
      bytes += char(keys[i + 1] ^ 0x40), ++i;
    else
      bytes += keys[i], *echo += keys[i];
  }
  return bytes;
}

// Returns the screen that text draws on a terminal: a carriage return goes
// back to the start of the line, a backspace one column back, and what
// follows overwrites; bells show nothing, and blanks at the end of a line
// are not seen.
std::string render(const std::string &text) {
  e2e::Args lines(1);
  size_t col = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    std::string &l = lines.back();
    if (ch == '\n') {
      lines.emplace_back(), col = 0;
    } else if (ch == '\r' || ch == '\b') {
      col = ch == '\r' ? 0 : col - (col > 0);
    } else if (ch != '\a') {
      col < l.size() ? void(l[col] = ch) : l.push_back(ch);
      ++col;
    }
  }
  std::string screen;
  for (std::string &l : lines)
    screen += l.erase(l.find_last_not_of(' ') + 1) + "\n";
  return screen.substr(0, screen.size() - 1);
}

// Waits until the screen shows want whole; returns false when it does not
// within 10 s. (What a terminal shows on the way may differ: a line is
// drawn again, characters are erased.)
bool shows(e2e::Pty &p, const std::string &want) {
  std::string w = render(want);
  return e2e::eventually(
      [&] {
        p.read_some(10);
        return render(p.output()).starts_with(w);
      },
      10000);
}

// Returns true once the terminal echoes what is typed (on) or no longer
// does: the line editor and the y/N question echo by themselves.
bool echoes(const e2e::Pty &p, bool on) {
  return e2e::eventually([&] {
    termios t{};
    return tcgetattr(p.master(), &t) == 0 && bool(t.c_lflag & ECHO) == on;
  });
}

// Returns another session of the user on x's daemon, forced or not.
std::unique_ptr<e2e::RawClient> login(const Context &x, bool force) {
  auto c = std::make_unique<e2e::RawClient>(x.daemon.socket());
  EXPECT_EQ(c->login(e2e::user(), force), "OK");
  return c;
}

// Does one action of a terminal case to x's daemon or to the terminal.
void act(const std::string &what, e2e::Pty &p, Context &x) {
  static const std::map<std::string, int> signals = {
      {"stop", SIGSTOP}, {"cont", SIGCONT}, {"kill", SIGKILL}};
  if (signals.contains(what)) {
    x.daemon.signal(signals.at(what));
  } else if (what == "restart") {
    x.daemon.restart();
  } else if (what.starts_with("log ")) {
    EXPECT_TRUE(e2e::eventually(
        [&] {
          return x.daemon.log().find(what.substr(4), x.log_mark) !=
                 std::string::npos;
        },
        20000))
        << what;
  } else if (what == "cooked") {
    EXPECT_TRUE(echoes(p, true));
  } else if (what == "hangup") {
    p.hang_up();
  } else if (what == "takeover") {
    x.other = login(x, true);
  } else if (what.starts_with("sleep ")) {
    usleep(std::stod(what.substr(6)) * 1e6);
  } else {
    ADD_FAILURE() << "unknown action " << what;
  }
}

// Runs a terminal case against x's daemon: types its keys once the screen
// shows what comes before them, then checks the whole screen and the end.
void run_terminal(const Case &c, Context &x) {
  e2e::Args env = x.fill(c.env);
  env.push_back("TERM=dumb");
  if (c.nohup) signal(SIGHUP, SIG_IGN);  // inherited, so only a poll sees it
  e2e::Pty p(argv_of(c, x), env);
  signal(SIGHUP, SIG_DFL);
  std::string want;
  for (const Step &s : steps_of(x.fill(c.out))) {
    if (s.kind == Step::text) {
      want += s.value;
      continue;
    }
    if (!shows(p, want)) {
      while (p.read_some(300) > 0) {
      }
      FAIL() << "want:\n"
             << render(want) << "\nscreen:\n"
             << render(p.output());
    }
    if (s.kind == Step::action) act(s.value, p, x);
    if (s.kind == Step::quiet_keys) {
      EXPECT_TRUE(echoes(p, false));
    }
    std::string unseen;
    if (s.kind != Step::action)
      p.send(key_bytes(s.value, s.kind == Step::keys ? &want : &unseen));
  }
  int st = p.wait(10000);
  EXPECT_EQ(render(p.output()), render(want));
  EXPECT_EQ(status_text(st, false), c.status) << render(p.output());
  termios t{};
  if (p.master() >= 0 && tcgetattr(p.master(), &t) == 0) {
    EXPECT_TRUE(t.c_lflag & ECHO) << "the terminal was left without echo";
  }
}

// Runs a setup script in x's daemon's folder; each NAME=value line it
// prints defines @NAME@ for what follows.
void run_setup(const std::string &script, Context &x) {
  e2e::RunResult r = e2e::run(
      {"/bin/sh", "-ec", "cd \"$0\"\n" + x.fill(script), x.daemon.dir()});
  ASSERT_EQ(r.exit_code(), 0) << r.err;
  for (const std::string &l : lines_of(r.out, false))
    if (size_t eq = l.find('='); eq != l.npos)
      x.names[l.substr(0, eq)] = l.substr(eq + 1);
}

class Transcript : public testing::TestWithParam<std::string> {};

TEST_P(Transcript, Run) {
  Context x;
  std::vector<Case> cases =
      read_cases(kDir + "/" + GetParam() + ".txt", x.names);
  ASSERT_FALSE(cases.empty());
  int port = e2e::free_port();
  x.names.insert({{"SOCKET", x.daemon.socket()},
                  {"DIR", x.daemon.dir()},
                  {"USER", e2e::user()},
                  {"TCP", "127.0.0.1:" + std::to_string(port)},
                  {"PORT", std::to_string(port)},
                  {"BIN", e2e::bin_path("vornd").erase(
                              e2e::bin_path("vornd").rfind('/'))}});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name + " (line " + std::to_string(c.line) + ")");
    if (c.uid != (uid_t)-1 && c.uid != geteuid() && !e2e::is_root()) {
      std::cout << "skipped: needs root to run as uid " << c.uid << "\n";
      continue;
    }
    for (const auto &[name, text] : c.files)
      std::ofstream(x.daemon.dir() + "/" + name) << x.fill(text);
    if (!c.setup.empty()) run_setup(c.setup, x);
    if (c.daemon) x.daemon.restart(x.fill(*c.daemon));
    if (c.hold) x.other = login(x, false);
    x.log_mark = x.daemon.log().size();
    c.terminal ? run_terminal(c, x) : run_script(c, x);
    x.other.reset();
    x.daemon.signal(SIGCONT);  // a failed case may have left it stopped
  }
}

// Returns the stems of the transcript files, sorted.
e2e::Args transcript_names() {
  e2e::Args names;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(kDir, ec))
    if (e.path().extension() == ".txt") names.push_back(e.path().stem());
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Files, Transcript,
                         testing::ValuesIn(transcript_names()),
                         [](const auto &info) { return info.param; });

}  // namespace
