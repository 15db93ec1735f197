// The interactive parser against a small local tree: word classification,
// paths made absolute and resolved, parameters, messages and candidates.
#include <algorithm>

#include "lang/commands.h"
#include "lang_parse_test_util.h"
#include "tree/candidates.h"

namespace {
using lang_test::pairs_of;
using lang_test::parse;
using lang_test::parse_result;
using lang_test::take_list;
using lang_test::text;
using strings = std::vector<std::string>;

constexpr uint32_t G = 0x10, S = 0x20, A = 0x01, L = 0x08, H = 0x04;

// root
//   net (a l)      eth0 (a l)  mtu (g s), mode (g s, choices)
//   netmask (g s)
//   a (a)
//   My node (l)
//   system (l)     hostname (g s h)
class LangInteractive : public testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    cli_opts.interactive = true;
    root = create_node(nullptr, nullptr, 0);
    net = create_node(root, "net", A | L);
    eth0 = create_node(net, "eth0", A | L);
    mtu = create_node(eth0, "mtu", G | S);
    mode = create_node(eth0, "mode", G | S);
    for (const char *c : {"auto", "manual", "Automatic"})
      strlist_append_talloc(mode, &mode->choices, c);
    create_node(root, "netmask", G | S);
    a = create_node(root, "a", A);
    my = create_node(root, "My node", L);
    system = create_node(root, "system", L);
    create_node(system, "hostname", G | S | H);
    cli_state.root = root;
    cli_state.cwd = root;
  }
  void TearDown() override {
    free_tree();
    cli_reset_records();
  }
  cli_node *root, *net, *eth0, *mtu, *mode, *a, *my, *system;
};

TEST_F(LangInteractive, WordThatFitsNoKindIsRefused) {
  cli_state.status = 5;
  parse_result r;
  parse(r, "cd nonexistent");
  EXPECT_EQ(r.pc, nullptr);
  EXPECT_EQ(r.out,
            "Parse error: Word 2 (nonexistent) is not what was expected. "
            "(Expecting option or path).\n");
  EXPECT_EQ(cli_state.status, 5);  // the interactive parser sets none

  // A word that begins like a command is a command word in the wrong place.
  parse_result cmd;
  parse(cmd, "cd s");
  EXPECT_EQ(cmd.pc, nullptr);
  EXPECT_EQ(cmd.out,
            "Parse error: Word 2 (s) is not what was expected. (Got command, "
            "expecting option or path).\n");

  // After a new name nothing may follow.
  cli_state.cwd = net;
  parse_result after;
  parse(after, "rename eth0 x/y eth0");
  EXPECT_EQ(after.pc, nullptr);
  EXPECT_EQ(after.out,
            "Parse error: Word 4 (eth0) is not what was expected. (Got path, "
            "expecting nothing).\n");
}

TEST_F(LangInteractive, DotPathToMissingNodeKeepsItsParent) {
  cli_state.cwd = net;
  parse_result r;
  parse(r, "cd ./nonexistent");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.pc->command, 0);
  EXPECT_EQ(text(r.pc->path), "/net/nonexistent");
  EXPECT_EQ(r.pc->path_node, net);
  EXPECT_EQ(r.pc->target, net);
  EXPECT_EQ(r.pc->expected, 0u);  // nothing may follow cd's path

  parse_result up;
  parse(up, "list ../system");
  ASSERT_NE(up.pc, nullptr);
  EXPECT_EQ(text(up.pc->path), "/system");
  EXPECT_EQ(up.pc->target, system);
}

TEST_F(LangInteractive, DeepMissingPathLeavesNoPathNode) {
  parse_result r;
  parse(r, "cd a/x/y");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(text(r.pc->path), "/a/x/y");
  EXPECT_EQ(r.pc->path_node, nullptr);
  EXPECT_EQ(r.pc->target, root);
}

TEST_F(LangInteractive, PathsAreCanonicalAndCaseFree) {
  parse_result r;
  parse(r, "list \"my NODE\"");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(text(r.pc->path), "/My node");
  EXPECT_EQ(r.pc->target, my);

  parse_result deep;
  parse(deep, "show NET/Eth0");
  ASSERT_NE(deep.pc, nullptr);
  EXPECT_EQ(text(deep.pc->path), "/net/eth0");
  EXPECT_EQ(deep.pc->target, eth0);

  // No path word: the current node's path.
  cli_state.cwd = eth0;
  parse_result none;
  parse(none, "ls");
  ASSERT_NE(none.pc, nullptr);
  EXPECT_EQ(none.pc->command, 8);
  EXPECT_EQ(text(none.pc->path), "/net/eth0");
  EXPECT_EQ(none.pc->path_node, nullptr);
  EXPECT_EQ(none.pc->target, eth0);
  EXPECT_EQ(none.pc->expected, 0x06u);
}

TEST_F(LangInteractive, SetParametersWithAndWithoutValues) {
  cli_state.cwd = eth0;
  parse_result r;
  parse(r, "set mtu=1400 bogus=1 mode= mtu");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.pc->command, 12);
  EXPECT_EQ(pairs_of(r.pc), (strings{"mtu=1400", "bogus=1", "mode=", "mtu"}));
  EXPECT_STREQ(r.pc->values->next->next->value, "");
  EXPECT_EQ(r.pc->values->next->next->next->value, nullptr);
  EXPECT_EQ(text(r.pc->path), "/net/eth0");
  EXPECT_EQ(r.pc->target, eth0);
  EXPECT_EQ(r.pc->expected, KIND_PARAMETER);

  // Parameter words are looked up below the path word's node.
  cli_state.cwd = root;
  parse_result below;
  parse(below, "get net/eth0 MTU mode");
  ASSERT_NE(below.pc, nullptr);
  EXPECT_EQ(text(below.pc->path), "/net/eth0");
  EXPECT_EQ(pairs_of(below.pc), (strings{"MTU", "mode"}));

  parse_result missing;
  parse(missing, "get net/eth0 speed");
  EXPECT_EQ(missing.pc, nullptr);
  EXPECT_EQ(missing.out,
            "Parse error: Word 3 (speed) is not what was expected. "
            "(Expecting parameter).\n");
}

TEST_F(LangInteractive, PathAndParameterWordIsSplitForTheHandlers) {
  // net is a branch and the start of the parameter netmask beside it.
  parse_result branch;
  parse(branch, "get net");
  ASSERT_NE(branch.pc, nullptr);
  EXPECT_EQ(text(branch.pc->path), "/net");
  EXPECT_EQ(branch.pc->path_node, net);
  EXPECT_EQ(branch.pc->values, nullptr);
  EXPECT_EQ(branch.pc->expected, 0u);

  parse_result nested;
  parse(nested, "set net/eth0/mtu=1400");
  ASSERT_NE(nested.pc, nullptr);
  EXPECT_EQ(text(nested.pc->path), "/net/eth0");
  EXPECT_EQ(nested.pc->target, eth0);
  EXPECT_EQ(pairs_of(nested.pc), strings{"mtu=1400"});

  // The value may hold the separator; only the part before "=" is cut.
  parse_result root_param;
  parse(root_param, "set /netmask=255.0/8");
  ASSERT_NE(root_param.pc, nullptr);
  EXPECT_EQ(text(root_param.pc->path), "/");
  EXPECT_EQ(root_param.pc->target, root);
  EXPECT_EQ(pairs_of(root_param.pc), strings{"netmask=255.0/8"});
}

TEST_F(LangInteractive, CreateNeedsAPathBeforeParameters) {
  parse_result bare;
  parse(bare, "create x a=1");
  EXPECT_EQ(bare.pc, nullptr);
  EXPECT_EQ(bare.out,
            "Parse error: Word 2 (x) is not what was expected. (Expecting "
            "option or path).\n");

  // Until create fills the parser's create step nothing is created: the
  // words after the path stay create's own parameters.
  parse_result dotted;
  parse(dotted, "add ./x a=1");
  ASSERT_NE(dotted.pc, nullptr);
  EXPECT_EQ(dotted.pc->command, 2);
  EXPECT_EQ(text(dotted.pc->path), "/x");
  EXPECT_EQ(dotted.pc->path_node, root);
  EXPECT_EQ(dotted.pc->created, nullptr);
  EXPECT_EQ(dotted.pc->create_done, 0);
  EXPECT_EQ(pairs_of(dotted.pc), strings{"a=1"});
  EXPECT_EQ(root->last_child, system);
}

TEST_F(LangInteractive, UnknownCommandListsCommandsAndIsRefused) {
  parse_result r;
  parse(r, "frob a");
  EXPECT_EQ(r.pc, nullptr);
  EXPECT_EQ(r.out.rfind("Valid commands are:\n", 0), 0u);
  EXPECT_NE(r.out.find("bye is an alias for exit.\n"), std::string::npos);
  EXPECT_EQ(cli_state.status, 0);
}

TEST_F(LangInteractive, CompletingKeepsTheUnfinishedWordAside) {
  parse_result r;
  parse(r, "cd ne", 1);
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(r.pc->word_count, 2);
  EXPECT_EQ(text(r.pc->partial), "ne");
  EXPECT_EQ(r.pc->command, 0);
  EXPECT_EQ(r.pc->expected, 0x06u);
  EXPECT_EQ(text(r.pc->path), "/");

  parse_result first;
  parse(first, "sh", 1);
  ASSERT_NE(first.pc, nullptr);
  EXPECT_EQ(first.pc->command, -1);
  EXPECT_EQ(first.pc->expected, KIND_COMMAND);

  for (const char *line : {"", "   "}) {
    parse_result empty;
    parse(empty, line, 1);
    ASSERT_NE(empty.pc, nullptr);
    EXPECT_EQ(empty.pc->command, -1);
    EXPECT_EQ(empty.pc->partial, nullptr);
    EXPECT_EQ(empty.pc->expected, KIND_COMMAND);
  }
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
  EXPECT_EQ(parameter_candidates(get, nullptr, nullptr), nullptr);
  EXPECT_EQ(take_list(parameter_candidates(get, nullptr, eth0)),
            (strings{"mtu", "mode"}));
  EXPECT_EQ(take_list(parameter_candidates(get, "M", eth0)),
            (strings{"mtu", "mode"}));
  EXPECT_EQ(take_list(parameter_candidates(get, "mo", eth0)), strings{"mode"});
  EXPECT_TRUE(take_list(parameter_candidates(help, nullptr, eth0)).empty());
  EXPECT_EQ(take_list(parameter_candidates(help, "h", system)),
            strings{"hostname"});
  // After "=": the choices that begin with the value, else all of them.
  EXPECT_EQ(take_list(parameter_candidates(get, "mode=AU", eth0)),
            (strings{"auto", "Automatic"}));
  EXPECT_EQ(take_list(parameter_candidates(get, "mode=", eth0)),
            (strings{"auto", "manual", "Automatic"}));
  EXPECT_EQ(take_list(parameter_candidates(get, "mode=zz", eth0)),
            (strings{"auto", "manual", "Automatic"}));
  EXPECT_TRUE(take_list(parameter_candidates(get, "mtu=1", eth0)).empty());
  EXPECT_TRUE(take_list(parameter_candidates(get, "=", eth0)).empty());
  EXPECT_TRUE(take_list(parameter_candidates(get, "x=1", eth0)).empty());
}

TEST_F(LangInteractive, RenameNeedsAnExistingPathThenANewName) {
  cli_state.cwd = net;
  parse_result r;
  parse(r, "rename eth0 x/y");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(r.pc->target, eth0);
  EXPECT_EQ(text(r.pc->new_name), "x/y");
  EXPECT_EQ(r.pc->expected, 0u);

  // A plain word names no node and holds no separator: it fits no kind.
  parse_result plain;
  parse(plain, "rename eth0 eth9");
  EXPECT_EQ(plain.pc, nullptr);
  EXPECT_EQ(plain.out,
            "Parse error: Word 3 (eth9) is not what was expected. (Expecting "
            "new node name).\n");
}
}  // namespace
