// Loading the tree through the library stand-in: listing and description
// parsing and the exact requests sent.
#include <string>
#include <vector>

#include "tree/load.h"
#include "tree/path.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;
using strings = std::vector<std::string>;

class LoadTest : public TreeTest {
 protected:
  // Every description is answered "ops g" unless a test says otherwise.
  void SetUp() override {
    TreeTest::SetUp();
    fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops g"));
  }
  void list(const char *path, const char *reply) {
    fake_vornal::on(VORNAL_MSG_LIST, path, answer(reply));
  }
  void describe(const char *path, const char *reply) {
    fake_vornal::on(VORNAL_MSG_DESCRIBE, path, answer(reply));
  }
  // Returns the paths of the description requests, in order.
  strings described() {
    strings out;
    for (const fake_vornal::request &q : fake_vornal::requests())
      if (q.type == VORNAL_MSG_DESCRIBE) out.push_back(q.args[1].value());
    return out;
  }
};

// Returns the whole tree below node as "name(children...)" text.
std::string shape(const cli_node *node) {
  std::string out;
  for (const cli_node *c = node->first_child; c; c = c->next) {
    out += (out.empty() ? "" : " ") + std::string(c->name);
    if (c->first_child) out += "(" + shape(c) + ")";
  }
  return out;
}

TEST_F(LoadTest, BuildTreeListsOnceThenDescribesDepthFirst) {
  list("/", "net\nnet/eth0\nnet/eth0/mtu\nnet/eth1\nsystem");
  add({"stale"});
  EXPECT_EQ(build_tree(), 0);
  EXPECT_EQ(cli_state.cwd, cli_state.root);
  EXPECT_EQ(cli_state.root->name, nullptr);
  EXPECT_EQ(talloc_parent(cli_state.root), nullptr);
  EXPECT_STREQ(talloc_get_name(cli_state.root), "struct cli_node");
  EXPECT_EQ(shape(cli_state.root), "net(eth0(mtu) eth1) system");
  strings sent = fake_vornal::request_texts();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[0], "17(NULL,\"/\",NULL,NULL,NULL)");
  EXPECT_EQ(sent[3], "18(NULL,\"/net/eth0/mtu\",NULL,NULL,NULL)");
  EXPECT_EQ(described(), (strings{"/net", "/net/eth0", "/net/eth0/mtu",
                                  "/net/eth1", "/system"}));
  EXPECT_EQ(cli_state.root->flags, 0u);  // the root is never described
  EXPECT_EQ(cli_state.root->first_child->flags, 0x10u);
}

TEST_F(LoadTest, ListingWithoutReplyOrHandleLeavesNoChildren) {
  add({"old", "kid"});
  fake_vornal::on(VORNAL_MSG_LIST, "/", status_only("OK"));
  load_subtree(cli_state.root);
  EXPECT_EQ(cli_state.root->first_child, nullptr);
  EXPECT_EQ(cli_state.root->last_child, nullptr);
  EXPECT_EQ(fake_vornal::request_texts().size(), 1u);
  add({"old"});
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_LIST, std::nullopt, no_handle());
  load_subtree(cli_state.root);
  EXPECT_EQ(cli_state.root->first_child, nullptr);
  EXPECT_EQ(fake_vornal::request_texts().size(), 1u);
}

TEST_F(LoadTest, DepthJumpsAndReturns) {
  // A jump of two or more levels keeps the previous parent; a shorter
  // line climbs from the previous parent.
  list("/", "a\na/b/c\na/b/c/d\na/x/y/z\nm\nm/n\nm/n/o\np");
  build_tree();
  EXPECT_EQ(shape(cli_state.root), "a c(d z) m(n(o)) p");
}

TEST_F(LoadTest, ShortLinesNeverClimbAboveTheRequestedNode) {
  add({"top"});
  list("/top", "q/r/s\nt");  // depth 3 first, then depth 1
  load_subtree(cli_state.root->first_child);
  EXPECT_EQ(shape(cli_state.root), "top(s t)");
}

TEST_F(LoadTest, RepeatedNamesInAnotherCaseAreReused) {
  list("/", "Net\nNet/a\nNET\nnet/B\nnet/b/C\nnEt/A");
  build_tree();
  EXPECT_EQ(shape(cli_state.root), "Net(a B(C))");
  EXPECT_EQ(described(), (strings{"/Net", "/Net/a", "/Net/B", "/Net/B/C"}));
}

TEST_F(LoadTest, EscapedAndEncodedSlashesStayInsideNames) {
  list("/", "a\\/b\na\\/b/kid\nc%2Fd\ne%2Bf+g\nback\\\\slash");
  build_tree();
  EXPECT_EQ(shape(cli_state.root), "a/b(kid) c/d e+f g back\\slash");
  EXPECT_EQ(described(), (strings{"/a\\/b", "/a\\/b/kid", "/c\\/d", "/e+f g",
                                  "/back\\slash"}));
}

TEST_F(LoadTest, EmptyLinesAreSkipped) {
  list("/", "\na\n\na/b\n");
  build_tree();
  EXPECT_EQ(shape(cli_state.root), "a(b)");
  EXPECT_EQ(described().size(), 2u);
}

TEST_F(LoadTest, ReloadReplacesDescendantsAndMovesTheCwd) {
  list("/", "net\nnet/eth0\nnet/eth0/mtu\nsys");
  build_tree();
  cli_node *net = cli_state.root->first_child;
  cli_state.cwd = net->first_child->first_child;  // /net/eth0/mtu
  cli_state.root->last_child->matches = net->first_child;
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_LIST, "/net", answer("eth1\neth1/mtu"));
  fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops gs"));
  load_subtree(net);
  EXPECT_EQ(shape(cli_state.root), "net(eth1(mtu)) sys");
  EXPECT_EQ(cli_state.cwd, net);
  EXPECT_EQ(cli_state.root->last_child->matches, nullptr);
  EXPECT_EQ(net->first_child->flags, 0x30u);
  EXPECT_EQ(net->flags, 0x10u);  // not described again
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_DESCRIBE).size(), 2u);
}

TEST_F(LoadTest, DescriptionLines) {
  list("/", "p\nq\ntz");
  describe("/p", "len 4\nops gs\nflags.1 hide\nops adhlgsrm\nnonsense");
  describe("/q", "matches /tz\nchoices\nmatches\nmatches /none\nlen");
  describe("/tz", "choices UTC\nchoices Europe/Oslo\nchoices two words");
  build_tree();
  cli_node *p = cli_state.root->first_child, *q = p->next, *tz = q->next;
  EXPECT_EQ(p->flags, 0xFFu);
  EXPECT_STREQ(p->ops, "adhlgsrm");
  EXPECT_EQ(talloc_parent(p->ops), p);
  EXPECT_EQ(p->hidden, 1);
  EXPECT_EQ(p->choices, nullptr);
  EXPECT_EQ(q->matches, tz);  // an unresolvable later line changes nothing
  EXPECT_EQ(q->flags, 0u);
  EXPECT_EQ(q->ops, nullptr);
  EXPECT_EQ(q->choices, nullptr);
  EXPECT_EQ(q->hidden, 0);
  ASSERT_NE(tz->choices, nullptr);
  EXPECT_STREQ(tz->choices[0], "UTC");
  EXPECT_STREQ(tz->choices[1], "Europe/Oslo");
  EXPECT_STREQ(tz->choices[2], "two words");
  EXPECT_EQ(tz->choices[3], nullptr);
  EXPECT_EQ(talloc_parent(tz->choices), tz);
}

TEST_F(LoadTest, ParseOpsLetters) {
  EXPECT_EQ(parse_ops_letters("adhlgsrm"), 0xFFu);
  EXPECT_EQ(parse_ops_letters("gs"), 0x30u);
  EXPECT_EQ(parse_ops_letters("x"), 0u);
  EXPECT_EQ(parse_ops_letters("g g  s s"), 0x30u);
  EXPECT_EQ(parse_ops_letters("ma"), 0x81u);
  EXPECT_EQ(parse_ops_letters("D"), 0u);
  EXPECT_EQ(parse_ops_letters(""), 0u);
  EXPECT_EQ(parse_ops_letters(nullptr), 0u);
}

TEST_F(LoadTest, DescriptionWithoutReply) {
  cli_node *n = add({"n"});
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/n", status_only("OK"));
  cli_state.status = 3;
  EXPECT_EQ(printed([&] { load_node_attributes(n); }),
            "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, 3);  // a terminal keeps its status
  cli_opts.interactive = false;
  EXPECT_EQ(printed([&] { load_node_attributes(n); }),
            "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  fake_vornal::reset();  // the earlier rule would still fit
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/n", no_handle());
  cli_state.status = 0;
  EXPECT_EQ(printed([&] { load_node_attributes(n); }), "");
  EXPECT_EQ(cli_state.status, 0);
  EXPECT_EQ(n->flags, 0u);
}

}  // namespace
