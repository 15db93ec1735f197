// The interactive parser against a small local tree: word classification,
// paths made absolute and resolved, parameters, messages and candidates.
#include "lang_parse_test_util.h"

namespace {
using lang_test::summary;
using lang_test::take_list;
using strings = std::vector<std::string>;

constexpr uint32_t G = 0x10, S = 0x20, A = 0x01, L = 0x08, H = 0x04;

// root: net (a l) > eth0 (a l) > mtu (g s), mode (g s, choices);
// netmask (g s); a (a); My node (l); system (l) > hostname (g s h).
class LangInteractive : public testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    cli_opts.interactive = true;
    root = create_node(nullptr, nullptr, 0);
    net = create_node(root, "net", A | L);
    eth0 = create_node(net, "eth0", A | L);
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
  void check(cli_node *cwd, const lang_test::line_case *cases, int n) {
    for (int i = 0; i < n; i++) {
      cli_state.cwd = cwd;
      EXPECT_EQ(summary(cases[i].line), cases[i].want) << cases[i].line;
    }
  }
  cli_node *root, *net, *eth0, *mode, *system;
};

TEST_F(LangInteractive, AtTheRoot) {
  const lang_test::line_case cases[] = {
      {"cd nonexistent ",
       "refused || Parse error: Word 2 (nonexistent) is not what was "
       "expected. (Expecting option or path).\n"},
      {"cd s ",
       "refused || Parse error: Word 2 (s) is not what was expected. (Got "
       "command, expecting option or path).\n"},
      // A separator makes a path even where only a exists.
      {"cd a/x/y ", "cd path=/a/x/y target=/"},
      {"list \"my NODE\" ", "list path=/My node node=My node target=My node"},
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
      // Nothing is created until create fills the parser's create step:
      // the words after the path stay create's own parameters.
      {"add ./x a=1 ",
       "create path=/x node=/ target=/ values=a=1 "
       "expected=32"},
      {"", "-1 path=/ target=/ expected=1"},
      {"   ", "-1 path=/ target=/ expected=1"},
  };
  check(root, cases, sizeof cases / sizeof cases[0]);
  EXPECT_EQ(root->last_child, system);
}

TEST_F(LangInteractive, BelowTheRoot) {
  const lang_test::line_case at_net[] = {
      {"cd ./nonexistent ", "cd path=/net/nonexistent node=net target=net"},
      {"list ../system ", "list path=/system node=system target=system"},
      {"rename eth0 x/y ",
       "rename path=/net/eth0 node=eth0 target=eth0 new=x/y"},
      // A plain word names no node and holds no separator.
      {"rename eth0 eth9 ",
       "refused || Parse error: Word 3 (eth9) is not what was expected. "
       "(Expecting new node name).\n"},
      // Nothing may follow a new name; the text for no kind is "nothing".
      {"rename eth0 x/y eth0 ",
       "refused || Parse error: Word 4 (eth0) is not what was expected. "
       "(Got path, expecting nothing).\n"},
  };
  check(net, at_net, sizeof at_net / sizeof at_net[0]);
  const lang_test::line_case at_eth0[] = {
      {"set mtu=1400 bogus=1 mode= mtu ",
       "set path=/net/eth0 target=eth0 values=mtu=1400|bogus=1|mode=|mtu "
       "expected=32"},
      {"ls ", "list path=/net/eth0 target=eth0 expected=6"},
      {"cd .. ", "cd path=/net node=net target=net"},
  };
  check(eth0, at_eth0, sizeof at_eth0 / sizeof at_eth0[0]);
}

TEST_F(LangInteractive, CompletingAndUnknownCommands) {
  EXPECT_EQ(summary("cd ne", 1), "cd path=/ target=/ partial=ne expected=6");
  EXPECT_EQ(summary("sh", 1), "-1 path=/ target=/ partial=sh expected=1");
  cli_state.status = 4;
  std::string r = summary("frob a");
  EXPECT_EQ(r.rfind("refused status=4 || Valid commands are:\n", 0), 0u);
  EXPECT_NE(r.find("bye is an alias for exit.\n"), std::string::npos);
}

TEST_F(LangInteractive, ClassifyWord) {
  EXPECT_EQ(classify_word(-1, "anything", 0, nullptr), KIND_COMMAND);
  EXPECT_EQ(classify_word(12, "-x", 1, nullptr), KIND_OPTION);
  EXPECT_EQ(classify_word(12, ".x", 1, nullptr), KIND_PATH);
  EXPECT_EQ(classify_word(12, "/x", 1, nullptr), KIND_PATH);
  EXPECT_EQ(classify_word(12, "-x=1", 1, nullptr), KIND_PARAMETER);
  // netmask names a parameter: it stops being a path.
  EXPECT_EQ(classify_word(8, "netmask", 1, nullptr), KIND_PARAMETER);
  EXPECT_EQ(classify_word(8, "system", 1, nullptr), KIND_PATH);
  EXPECT_EQ(classify_word(8, "sys/x", 1, nullptr), KIND_PATH | KIND_NEW_NAME);
  EXPECT_EQ(classify_word(8, "Set", 1, nullptr), KIND_COMMAND);
  EXPECT_EQ(classify_word(6, "net", 1, nullptr), KIND_PATH | KIND_PARAMETER);
  EXPECT_EQ(classify_word(8, "net", 1, nullptr), KIND_PATH);
  EXPECT_EQ(classify_word(6, "mt", 1, eth0), KIND_PARAMETER);
  EXPECT_EQ(classify_word(6, "mt", 1, nullptr), 0u);
}

TEST_F(LangInteractive, ParameterCandidatesNamesAndChoices) {
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
}  // namespace
