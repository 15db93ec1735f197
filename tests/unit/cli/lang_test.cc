// Command lookup and the two parsers: word classification against a small
// local tree, word kinds from the grammar in scripts, messages, statuses
// and completion candidates. Each parse is summed up in one line.
#include "lang/commands.h"
#include "lang/completion.h"
#include "lang/grammar.h"
#include "test_util.h"
#include "tree/candidates.h"
#include "tree/strlist.h"

namespace {

constexpr uint32_t G = 0x10, S = 0x20, A = 0x01, L = 0x08, H = 0x04;

// Returns "/" for the root, the name otherwise.
std::string node_name(const cli_node *n) {
  return n->name ? n->name : "/";
}

// Parses line and returns what a handler would see: the command's name,
// then each field that is set, the status when not 0, and the printed text
// after "|| ". A refused line gives "refused".
std::string summary(const char *line, int completing = 0) {
  parsed_command *pc = nullptr;
  std::string out = printed([&] { pc = parse_command_line(line, completing); });
  std::string s = !pc               ? "refused"
                  : pc->command < 0 ? "-1"
                                    : command_name(pc->command);
  if (pc && pc->path) s += " path=" + std::string(pc->path);
  if (pc && pc->path_node) s += " node=" + node_name(pc->path_node);
  if (pc && pc->target) s += " target=" + node_name(pc->target);
  if (pc && pc->new_name) s += " new=" + std::string(pc->new_name);
  for (auto *p = pc ? pc->values : nullptr; p; p = p->next)
    s += std::string(p == pc->values ? " values=" : "|") + p->name +
         (p->value ? "=" + std::string(p->value) : "");
  if (pc && pc->partial) s += " partial=" + std::string(pc->partial);
  if (pc && pc->expected) s += " expected=" + std::to_string(pc->expected);
  if (cli_state.status) s += " status=" + std::to_string(cli_state.status);
  if (!out.empty()) s += " || " + out;
  free_parsed_command(pc);
  return s;
}

// Returns the entries of a string list and frees it.
strings take_list(char **list) {
  strings out;
  for (int i = 0; list && list[i]; i++) out.push_back(list[i]);
  strlist_free(&list);
  return out;
}

struct line_case {
  const char *line, *want;
};

// root: net (a l) > eth0 (a l, d) > mtu (g s), mode (g s, choices);
// netmask (g s); a (a); My node (l); system (l) > hostname (g s h).
class Lang : public testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    cli_opts.interactive = true;
    root = create_node(nullptr, nullptr, 0);
    net = create_node(root, "net", A | L);
    eth0 = create_node(net, "eth0", A | L | 0x02);
    create_node(eth0, "mtu", G | S);
    mode = create_node(eth0, "mode", G | S);
    for (const char *c : {"auto", "manual", "Automatic"})
      strlist_append_talloc(mode, &mode->choices, c);
    create_node(root, "netmask", G | S);
    create_node(root, "a", A);
    create_node(root, "My node", L);
    system = create_node(root, "system", L);
    create_node(system, "hostname", G | S | H);
    cli_state.root = cli_state.cwd = root;
  }
  void TearDown() override {
    free_tree();
    cli_reset_records();
  }
  // Checks each case with the current node at cwd.
  void check(cli_node *cwd, std::initializer_list<line_case> cases) {
    for (const line_case &c : cases) {
      cli_state.cwd = cwd;
      cli_state.status = 0;
      EXPECT_EQ(summary(c.line), c.want) << c.line;
    }
  }
  cli_node *root, *net, *eth0, *mode, *system;
};

// How script lines are read shows with -D in the scripts transcript, and a
// script ends at its first empty line; the rest only a handler sees.
TEST_F(Lang, ScriptLinesBlankOrCompletedAndTheirWords) {
  cli_opts.interactive = false;
  EXPECT_EQ(summary("    "), "-1 expected=1");
  EXPECT_EQ(summary("list a", 1), "list partial=a");
  // Completing leaves the last word out: get alone lacks its parameter.
  EXPECT_EQ(summary("get \"a b\"", 1).rfind("refused status=-17", 0), 0u);
  // The parse_line fuzz target checks that the command is one talloc tree.
  parsed_command *pc = parse_command_line("set /a b\\ c=1 d=2 x", 0);
  ASSERT_NE(pc, nullptr);
  EXPECT_EQ(pc->word_count, 5);
  EXPECT_STREQ(pc->values->name, "b\\ c");
  free_parsed_command(pc);
}

TEST_F(Lang, TerminalLinesAtTheRoot) {
  check(
      root,
      {
          {"cd nonexistent ",
           "refused || Parse error: Word 2 (nonexistent) is not what was "
           "expected. (Expecting option or path).\n"},
          {"cd s ",
           "refused || Parse error: Word 2 (s) is not what was expected. (Got "
           "command, expecting option or path).\n"},
          // A separator makes a path even where only a exists.
          {"cd a/x/y ", "cd path=/a/x/y target=/"},
          {"list \"my NODE\" ",
           "list path=/My node node=My node target=My node"},
          {"show NET/Eth0 ", "show path=/net/eth0 node=eth0 target=eth0"},
          {"get net/eth0 MTU mode ",
           "get path=/net/eth0 node=eth0 target=eth0 values=MTU|mode "
           "expected=32"},
          {"get net/eth0 speed ",
           "refused || Parse error: Word 3 (speed) is not what was expected. "
           "(Expecting parameter).\n"},
          // net is a branch and the start of the parameter netmask beside it.
          {"get net ", "get path=/net node=net target=net"},
          {"set net/eth0/mtu=1400 ",
           "set path=/net/eth0 node=eth0 target=eth0 values=mtu=1400"},
          {"set /netmask=255.0/8 ",
           "set path=/ node=/ target=/ values=netmask=255.0/8"},
          {"create x a=1 ",
           "refused || Parse error: Word 2 (x) is not what was expected. "
           "(Expecting option or path).\n"},
          {"", "-1 path=/ target=/ expected=1"},
      });
  EXPECT_EQ(root->last_child, system);
  EXPECT_EQ(summary("cd ne", 1), "cd path=/ target=/ partial=ne expected=6");
  EXPECT_EQ(summary("sh", 1), "-1 path=/ target=/ partial=sh expected=1");
  cli_state.status = 4;
  std::string r = summary("frob a");
  EXPECT_EQ(r.rfind("refused status=4 || Valid commands are:\n", 0), 0u);
}

TEST_F(Lang, TerminalLinesBelowTheRoot) {
  check(
      net,
      {
          {"cd ./nonexistent ", "cd path=/net/nonexistent node=net target=net"},
          {"list ../system ", "list path=/system node=system target=system"},
          {"rename eth0 x/y ",
           "rename path=/net/eth0 node=eth0 target=eth0 new=x/y"},
          // A plain word names no node and holds no separator.
          {"rename eth0 eth9 ",
           "refused || Parse error: Word 3 (eth9) is not what was expected. "
           "(Expecting new node name).\n"},
      });
  check(eth0,
        {
            {"set mtu=1400 bogus=1 mode= mtu ",
             "set path=/net/eth0 target=eth0 values=mtu=1400|bogus=1|mode=|mtu "
             "expected=32"},
            {"ls ", "list path=/net/eth0 target=eth0 expected=6"},
        });
}

TEST_F(Lang, ClassifyWord) {
  const struct {
    int cmd;
    const char *word;
    cli_node *node;
    unsigned kinds;
  } cases[] = {
      // The other kinds show in the parses above.
      {12, "-x=1", nullptr, KIND_PARAMETER},
      // netmask names a parameter: it stops being a path.
      {8, "netmask", nullptr, KIND_PARAMETER},
      {6, "mt", eth0, KIND_PARAMETER},
      {6, "mt", nullptr, 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ(classify_word(c.cmd, c.word, c.cmd >= 0, c.node), c.kinds)
        << c.cmd << " " << c.word;
}

TEST_F(Lang, ParameterCandidatesNamesAndChoices) {
  const int get = 6, help = 7;
  const strings all_modes = {"auto", "manual", "Automatic"};
  EXPECT_EQ(parameter_candidates(get, nullptr, nullptr), nullptr);
  EXPECT_EQ(take_list(parameter_candidates(get, nullptr, eth0)),
            (strings{"mtu", "mode"}));
  EXPECT_EQ(take_list(parameter_candidates(get, "MO", eth0)), strings{"mode"});
  EXPECT_TRUE(take_list(parameter_candidates(help, nullptr, eth0)).empty());
  EXPECT_EQ(take_list(parameter_candidates(help, "h", system)),
            strings{"hostname"});
  // After "=": the choices that begin with the value, else all of them.
  EXPECT_EQ(take_list(parameter_candidates(get, "mode=AU", eth0)),
            (strings{"auto", "Automatic"}));
  EXPECT_EQ(take_list(parameter_candidates(get, "mode=", eth0)), all_modes);
  EXPECT_EQ(take_list(parameter_candidates(get, "mode=zz", eth0)), all_modes);
  for (const char *none : {"mtu=1", "=", "x=1"})
    EXPECT_TRUE(take_list(parameter_candidates(get, none, eth0)).empty());
}

TEST_F(Lang, ChildCandidates) {
  auto cands = [](cli_node *n, const char *prefix, const char *partial,
                  uint32_t mask, int mode, int recurse) {
    return take_list(child_candidates(n, prefix, partial, mask, mode, recurse));
  };
  // Subtrees first; branches get a slash when something below matches.
  EXPECT_EQ(cands(net, nullptr, nullptr, 0xff, 0, 1),
            (strings{"eth0/mtu", "eth0/mode", "eth0/"}));
  EXPECT_EQ(cands(net, "/net/", "ETH0/M", 0xff, 0, 1),
            (strings{"/net/eth0/mtu", "/net/eth0/mode"}));
  EXPECT_EQ(
      cands(root, nullptr, nullptr, G, 0, 1),
      (strings{"net/eth0/mtu", "net/eth0/mode", "netmask", "system/hostname"}));
  // List bit, nothing listable below eth0: no trailing slash.
  EXPECT_EQ(cands(net, nullptr, nullptr, L, 0, 1), strings{"eth0"});
  EXPECT_EQ(cands(root, nullptr, "n", 0xff, 0, 0), (strings{"net", "netmask"}));
  // Mode 1 offers the branch of each match, once per match; mode -1 tests
  // the parent's bits (eth0 carries d).
  EXPECT_EQ(cands(net, nullptr, nullptr, G, 1, 1), (strings{"eth0/", "eth0/"}));
  EXPECT_EQ(cands(root, nullptr, nullptr, 0x02, -1, 1),
            (strings{"net/eth0/mtu", "net/eth0/mode"}));
  // The branch selector: branches and nodes without g or s.
  EXPECT_EQ(cands(root, nullptr, nullptr, 0x100, 0, 1),
            (strings{"net/eth0", "net/", "a", "My node", "system"}));
  eth0->hidden = 1;
  EXPECT_TRUE(cands(root, nullptr, nullptr, 0x02, -1, 1).empty());
  create_node(root, "x/y", G);
  EXPECT_EQ(cands(root, nullptr, "x", G, 0, 1), strings{"x\\/y"});
  EXPECT_EQ(child_candidates(nullptr, nullptr, nullptr, 0xff, 0, 1), nullptr);
  // The recursive step appends to a list that already holds entries.
  char **list = nullptr;
  strlist_append(&list, cli_strdup("x"));
  cli_free(collect_candidates(root->first_child, nullptr, "s", 0xff, 0, 0,
                              nullptr, &list));
  EXPECT_EQ(take_list(list), (strings{"x", "system"}));
}

// Returns the candidates of completing line, the append character and
// what was printed, on one line; "refused" when the parser refused it.
std::string completed(const char *line, int tries = 1) {
  completion_result r;
  int refused = 0;
  std::string out = printed([&] { refused = complete_line(line, tries, &r); });
  std::string s = refused ? "refused" : "";
  for (const std::string &m : take_list(r.matches)) s += m + ",";
  s += std::string(" '") + r.append + "'";
  return s + (r.output_shown ? " || " + out : "");
}

TEST_F(Lang, CompletingLinesGivesCandidatesHelpAndValues) {
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth0", "mode", answer("manual"));
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth0", "mtu", answer(""));
  fake_vornal::on(VORNAL_MSG_GET, "/system", "hostname", status_only("ERR x"));
  fake_vornal::on(VORNAL_MSG_HELP, "/system/", answer("About+it"));
  cli_state.cwd = root;
  EXPECT_EQ(completed("frob "), "refused ' '");
  EXPECT_TRUE(
      completed("").ends_with("version,quit,quit!,add,remove,ls,bye, ' '"));
  EXPECT_EQ(completed("li"), "list,listr, ' '");
  EXPECT_EQ(completed("RE"), "rename,revert,remove, ' '");  // aliases last
  EXPECT_EQ(completed("x"), " ' '");
  EXPECT_EQ(completed("create ne"), "net/eth0,net/, '/'");
  EXPECT_EQ(completed("list /system "), " ' ' || \nAbout it\n");
  EXPECT_EQ(completed("list /net "), " ' '");  // no help: nothing shown
  cli_state.cwd = system;
  EXPECT_EQ(completed("set ho"), "hostname, '='");
  EXPECT_EQ(completed("set hostname="), " ' '");  // the value read failed
  cli_state.cwd = eth0;
  const std::string modes =
      "auto,manual,Automatic, ' ' || \nCurrent value is: manual.";
  EXPECT_EQ(completed("set mode="), modes + "\n");
  EXPECT_EQ(completed("set mode=", 2), modes);
  cli_state.cwd = root;
  EXPECT_EQ(completed("get net/eth0 mtu=", 2),
            " ' ' || \nNo value currently set.\n");
}

TEST_F(Lang, ATabIsARepeatOnlyOnTheSameLineWithNothingTyped) {
  cli_state.typed_since_mark = true;
  EXPECT_EQ(count_completion_request(""), 1);
  EXPECT_EQ(count_completion_request(""), 2);
  EXPECT_EQ(count_completion_request("ls"), 1);
  cli_state.typed_since_mark = true;
  EXPECT_EQ(count_completion_request("ls"), 1);
  EXPECT_FALSE(cli_state.typed_since_mark);
  release_completion_line();
}

}  // namespace
