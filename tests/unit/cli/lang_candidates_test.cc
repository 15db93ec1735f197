// Candidate paths below a node for each candidate mode, with recursion,
// hidden nodes, the branch selector and partial words.
#include "lang_parse_test_util.h"
#include "tree/candidates.h"

namespace {
using lang_test::take_list;
using strings = std::vector<std::string>;

// root: net (eth0 (mtu), eth1), system, plus x/y (a name with "/").
class LangCandidates : public testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    root = create_node(nullptr, nullptr, 0);
    net = create_node(root, "net", 0x08);
    eth0 = create_node(net, "eth0", 0x08 | 0x02);
    mtu = create_node(eth0, "mtu", 0x30);
    eth1 = create_node(net, "eth1", 0x08);
    system = create_node(root, "system", 0x08);
    cli_state.root = cli_state.cwd = root;
  }
  void TearDown() override {
    free_tree();
    cli_reset_records();
  }
  char **all(const char *partial, int mode = 0, const char *prefix = nullptr) {
    return child_candidates(root, prefix, partial, 0xff, mode, 1);
  }
  cli_node *root, *net, *eth0, *mtu, *eth1, *system;
};

TEST_F(LangCandidates, SubtreesComeFirstAndBranchesGetASlash) {
  EXPECT_EQ(take_list(all(nullptr)), (strings{"net/eth0/mtu", "net/eth0/",
                                              "net/eth1", "net/", "system"}));
  EXPECT_EQ(take_list(all("net/e")),
            (strings{"net/eth0/mtu", "net/eth0/", "net/eth1"}));
  EXPECT_EQ(take_list(all("NET/ETH")),
            (strings{"net/eth0/mtu", "net/eth0/", "net/eth1"}));
  EXPECT_EQ(take_list(all(nullptr, 0, "/")),
            (strings{"/net/eth0/mtu", "/net/eth0/", "/net/eth1", "/net/",
                     "/system"}));
  EXPECT_EQ(child_candidates(nullptr, nullptr, nullptr, 0xff, 0, 1), nullptr);
}

TEST_F(LangCandidates, OnlyMatchingNodesAndNoSlashWithoutCandidatesBelow) {
  // Only mtu carries g: net and eth0 get no own candidate.
  EXPECT_EQ(take_list(child_candidates(root, nullptr, nullptr, 0x10, 0, 1)),
            strings{"net/eth0/mtu"});
  // list bit, no match below eth0: eth0 has no trailing slash.
  EXPECT_EQ(take_list(child_candidates(net, nullptr, nullptr, 0x08, 0, 1)),
            (strings{"eth0", "eth1"}));
  // Without recursion only the children, by name alone.
  EXPECT_EQ(take_list(child_candidates(root, nullptr, nullptr, 0xff, 0, 0)),
            (strings{"net", "system"}));
}

TEST_F(LangCandidates, ParentModesAndHiddenNodes) {
  // Mode 1 offers the branch holding each match, once per match.
  create_node(eth0, "speed", 0x30);
  EXPECT_EQ(take_list(child_candidates(root, nullptr, nullptr, 0x10, 1, 1)),
            (strings{"net/eth0/", "net/eth0/"}));
  // Mode -1 tests the parent's bits: eth0 carries d, so its children count.
  EXPECT_EQ(take_list(child_candidates(root, nullptr, nullptr, 0x02, -1, 1)),
            (strings{"net/eth0/mtu", "net/eth0/speed"}));
  eth0->hidden = 1;
  EXPECT_TRUE(
      take_list(child_candidates(root, nullptr, nullptr, 0x02, -1, 1)).empty());
  EXPECT_EQ(take_list(all(nullptr)), (strings{"net/eth1", "net/", "system"}));
}

TEST_F(LangCandidates, BranchSelectorAndEscapedNames) {
  create_node(root, "x/y", 0x30);
  // Branches and nodes without g or s; mtu and x/y are parameters.
  EXPECT_EQ(take_list(child_candidates(root, nullptr, nullptr, 0x100, 0, 1)),
            (strings{"net/eth0", "net/eth1", "net/", "system"}));
  EXPECT_EQ(take_list(child_candidates(root, nullptr, "x", 0x10, 0, 1)),
            strings{"x\\/y"});
}
}  // namespace
