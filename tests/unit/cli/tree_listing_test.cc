// Outlines of small hand-built trees: indentation, hidden nodes, values
// only for readable nodes, and the script-mode rebuild.
#include <string>
#include <vector>

#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/parser.h"
#include "tree/listing.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;

class ListingTest : public TreeTest {
 protected:
  // net(eth0(mtu) eth1) system, with mtu readable.
  void SetUp() override {
    TreeTest::SetUp();
    net = add({"net"});
    add({"net", "eth0", "mtu"})->flags = NODE_OP_GET | NODE_OP_SET;
    add({"net", "eth1"});
    add({"system"});
  }
  // Returns the outline of node as printed.
  std::string tree(cli_node *node, int values, int recursive) {
    return printed([&] { print_tree(node, values, recursive); });
  }
  // Runs the handler of line's command on a command with the given target
  // and path; returns what it printed.
  std::string run(const char *name, cli_node *target, const char *path) {
    parsed_command *pc = talloc_zero(nullptr, struct parsed_command);
    pc->command = lookup_command(name);
    pc->target = target;
    if (path) pc->path = talloc_strdup(pc, path);
    std::string out = printed([&] { command_row(pc->command)->handler(pc); });
    talloc_free(pc);
    return out;
  }
  cli_node *net = nullptr;
};

TEST_F(ListingTest, IndentationFollowsDepth) {
  EXPECT_EQ(tree(nullptr, 0, 0), "  net\n  system\n");
  EXPECT_EQ(tree(net, 0, 0), "net\n  eth0\n  eth1\n");
  EXPECT_EQ(tree(net, 0, 1), "net\n  eth0\n    mtu\n  eth1\n");
  EXPECT_EQ(tree(cli_state.root, 0, 1),
            "  net\n    eth0\n      mtu\n    eth1\n  system\n");
  EXPECT_EQ(tree(add({"system"}), 0, 1), "system\n");
  EXPECT_TRUE(fake_vornal::requests().empty());
}

TEST_F(ListingTest, EmptyTreePrintsNothing) {
  free_tree();
  cli_state.root = talloc_zero(nullptr, struct cli_node);
  EXPECT_EQ(tree(nullptr, 1, 1), "");
}

TEST_F(ListingTest, HiddenNodesAreLeftOutWithTheirSubtrees) {
  cli_node *first = talloc_zero(net, struct cli_node);
  first->name = talloc_strdup(first, "secret");
  first->parent = net;
  first->next = net->first_child;
  first->hidden = 1;
  net->first_child = first;
  create_node(first, "inner", NODE_OP_GET);
  add({"net", "eth0", "shadow"})->hidden = 1;
  add({"net", "eth0", "tail"});
  // No value text comes back by default, so mtu shows its name alone.
  EXPECT_EQ(tree(net, 1, 1), "net\n  eth0\n    mtu\n    tail\n  eth1\n");
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_GET).size(), 1u);
  // A hidden node itself: no line of its own, its children at depth 1.
  EXPECT_EQ(tree(first, 0, 1), "  inner\n");
}

TEST_F(ListingTest, ShowAsksOncePerReadableNode) {
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth0", "mtu", answer("1500"));
  add({"net", "eth1", "speed"})->flags = NODE_OP_GET;
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth1", "speed",
                  status_only("ERR No such file or directory"));
  add({"net", "eth1", "lost"})->flags = NODE_OP_GET;
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth1", "lost", no_handle());
  EXPECT_EQ(tree(net, 1, 1),
            "net\n  eth0\n    mtu=1500\n  eth1\n"
            "    speed=ERR No such file or directory\n    lost\n");
  std::vector<std::string> want = {"15(NULL,\"/net/eth0\",NULL,\"mtu\",NULL)",
                                   "15(NULL,\"/net/eth1\",NULL,\"speed\",NULL)",
                                   "15(NULL,\"/net/eth1\",NULL,\"lost\",NULL)"};
  EXPECT_EQ(fake_vornal::request_texts(), want);
}

TEST_F(ListingTest, HandlersChooseValuesAndDepthByRow) {
  cli_opts.interactive = true;
  cli_node *eth0 = net->first_child;
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth0", "mtu", answer("9000"));
  EXPECT_EQ(run("list", eth0, nullptr), "eth0\n  mtu\n");
  EXPECT_EQ(run("listr", net, nullptr), "net\n  eth0\n    mtu\n  eth1\n");
  EXPECT_TRUE(fake_vornal::requests().empty());
  EXPECT_EQ(run("show", eth0, nullptr), "eth0\n  mtu=9000\n");
  EXPECT_EQ(run("show", net, nullptr), "net\n  eth0\n  eth1\n");
  EXPECT_EQ(run("showr", net, nullptr), "net\n  eth0\n    mtu=9000\n  eth1\n");
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_GET).size(), 2u);
}

TEST_F(ListingTest, ScriptRebuildsTheTreeForEveryListing) {
  cli_opts.interactive = false;
  fake_vornal::on(VORNAL_MSG_LIST, "/", answer("net\nnet/eth0\nnet/eth0/mtu"));
  fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops l"));
  EXPECT_EQ(run("list", nullptr, nullptr), "  net\n");
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_LIST).size(), 1u);
  EXPECT_EQ(run("listr", nullptr, "/net"), "net\n  eth0\n    mtu\n");
  EXPECT_EQ(run("list", nullptr, "net/eth0"), "eth0\n  mtu\n");
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_LIST).size(), 3u);
  EXPECT_EQ(cli_state.status, 0);
  EXPECT_EQ(run("show", nullptr, "/net/eth9/mtu"),
            "/net/eth9/mtu is not a valid path.\n");
  EXPECT_EQ(cli_state.status, -13);
  cli_state.status = 0;
  EXPECT_EQ(run("list", nullptr, "/net/eth9"),
            "/net/eth9 is not a valid path.\n");
  EXPECT_EQ(cli_state.status, -13);
}

}  // namespace
