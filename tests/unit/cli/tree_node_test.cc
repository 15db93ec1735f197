// Node records: creation, unlinking, one-word lookup and word walks.
#include <string.h>

#include "tree/strlist.h"
#include "tree_test_util.h"

namespace {

using NodeTest = TreeTest;

TEST_F(NodeTest, CreateNodeAppendsAnOwnedNamedChild) {
  cli_node *root = cli_state.root;
  char name[] = "eth0";
  cli_node *a = create_node(root, name, 0x30);
  cli_node *b = create_node(root, "eth0", 0);  // no uniqueness check
  ASSERT_TRUE(a && b);
  name[0] = 'X';
  EXPECT_STREQ(a->name, "eth0");
  EXPECT_STREQ(talloc_get_name(a), "struct cli_node");
  EXPECT_EQ(talloc_parent(a), root);
  EXPECT_EQ(talloc_parent(a->name), a);
  EXPECT_EQ(a->flags, 0x30u);
  EXPECT_EQ(root->first_child, a);
  EXPECT_EQ(root->last_child, b);
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->next, nullptr);
  EXPECT_EQ(b->parent, root);
  EXPECT_EQ(a->first_child, nullptr);
  EXPECT_EQ(a->ops, nullptr);
  EXPECT_EQ(a->choices, nullptr);
}

TEST_F(NodeTest, DisconnectFirstMiddleLastAndOnly) {
  for (int victim = 0; victim < 3; victim++) {
    cli_node *p = add({"p"});
    cli_node *kids[3] = {create_node(p, "k0", 0), create_node(p, "k1", 0),
                         create_node(p, "k2", 0)};
    disconnect_child(p, kids[victim]);
    EXPECT_EQ(kids[victim]->next, nullptr);
    EXPECT_EQ(kids[victim]->parent, nullptr);
    talloc_free(kids[victim]);
    const char *left[] = {"k1,k2", "k0,k2", "k0,k1"};
    EXPECT_EQ(child_names(p), left[victim]) << "victim " << victim;
    EXPECT_STREQ(p->last_child->name, victim == 2 ? "k1" : "k2");
    EXPECT_EQ(p->last_child->next, nullptr);
    disconnect_child(cli_state.root, p);
    talloc_free(p);
  }
  cli_node *p = add({"p"});
  cli_node *only = create_node(p, "only", 0);
  disconnect_child(p, only);
  talloc_free(only);
  EXPECT_EQ(p->first_child, nullptr);
  EXPECT_EQ(p->last_child, nullptr);
}

TEST_F(NodeTest, DisconnectOfAStrangerComplainsAndChangesNothing) {
  cli_node *a = add({"a", "x"})->parent;
  cli_node *b = add({"b", "y"})->parent;
  cli_node *empty = add({"c"});
  std::string out = printed([&] { disconnect_child(a, b->first_child); });
  EXPECT_EQ(out,
            "Argh. Trying to disconnect a child from a parent to whom they "
            "don't belong.");
  EXPECT_EQ(printed([&] { disconnect_child(empty, a->first_child); }), out);
  EXPECT_EQ(child_names(a), "x");
  EXPECT_EQ(child_names(b), "y");
  EXPECT_EQ(b->first_child->parent, b);
}

TEST_F(NodeTest, FindChildDotsQuotesAndCase) {
  cli_node *a = add({"a"});
  cli_node *upper = add({"a", "Eth0"});
  cli_node *lower = add({"a", "eth0"});
  cli_node *dots = add({"a", ".."});
  cli_node *slash = add({"a", "x/y"});
  EXPECT_EQ(find_child(a, "."), a);
  EXPECT_EQ(find_child(a, ".."), cli_state.root);
  EXPECT_EQ(find_child(cli_state.root, ".."), nullptr);
  EXPECT_EQ(find_child(a, "\"..\""), dots);  // quoted: a name, not a step
  EXPECT_EQ(find_child(a, "ETH0"), upper);   // first of the case twins
  EXPECT_EQ(find_child(a, "eth0"), upper);
  EXPECT_NE(lower, upper);
  EXPECT_EQ(find_child(a, "x\\/y"), slash);
  EXPECT_EQ(find_child(a, "\"X/Y\""), slash);
  EXPECT_EQ(find_child(a, "x"), nullptr);
  EXPECT_EQ(find_child(a, "eth"), nullptr);
}

TEST_F(NodeTest, WalkAndFindOrCreatePaths) {
  cli_node *b = add({"A", "b"});
  char w1[] = "a", w2[] = "B", w3[] = "c";
  char *words[] = {w1, w2, w3};
  EXPECT_EQ(walk_path(cli_state.root, words, 2), b);
  EXPECT_EQ(walk_path(cli_state.root, words, 3), nullptr);
  EXPECT_EQ(walk_path(cli_state.root, words, 0), cli_state.root);
  EXPECT_EQ(walk_path(nullptr, words, 0), nullptr);
  cli_node *c = find_or_create_path(cli_state.root, words, 3);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->parent, b);  // the existing A and b were reused
  EXPECT_STREQ(c->name, "c");
  EXPECT_EQ(child_names(cli_state.root), "A");
  EXPECT_EQ(find_or_create_child(b, "C", 7), c);
  EXPECT_EQ(c->flags, 0u);
}

TEST_F(NodeTest, AncestorsRunFromBelowTheRootDownToTheNode) {
  cli_node *c = add({"a", "b", "c"});
  int count = -1;
  cli_node **chain = node_ancestors(c, &count);
  ASSERT_NE(chain, nullptr);
  EXPECT_STREQ(talloc_get_name(chain), "struct cli_node *");
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(chain[0]->name, "a");
  EXPECT_EQ(chain[2], c);
  talloc_free(chain);
  chain = node_ancestors(cli_state.root, &count);
  EXPECT_EQ(count, 0);
  talloc_free(chain);
  count = 42;
  EXPECT_EQ(node_ancestors(nullptr, &count), nullptr);
  EXPECT_EQ(count, 42);
}

TEST(StrlistTest, AppendCountAndFree) {
  char **list = nullptr;
  EXPECT_EQ(strlist_count(list), 0);
  strlist_free(&list);
  EXPECT_EQ(strlist_append(&list, cli_strdup("one")), 0);
  EXPECT_EQ(strlist_append(&list, cli_strdup("two")), 0);
  ASSERT_EQ(strlist_count(list), 2);
  EXPECT_STREQ(list[1], "two");
  EXPECT_EQ(list[2], nullptr);
  char **more = nullptr;
  EXPECT_EQ(strlist_append_copies(&more, list), 0);
  EXPECT_EQ(strlist_append_copies(&more, list), 0);
  ASSERT_EQ(strlist_count(more), 4);
  EXPECT_NE(more[0], list[0]);
  EXPECT_STREQ(more[2], "one");
  strlist_free(&list);
  strlist_free(&more);
  EXPECT_EQ(list, nullptr);
}

TEST(StrlistTest, FailedGrowthLeavesTheListAlone) {
  char **list = nullptr;
  strlist_append(&list, cli_strdup("kept"));
  char *text = cli_strdup("lost");
  cli_alloc_fail_countdown = 1;
  std::string out = printed([&] { EXPECT_EQ(strlist_append(&list, text), 1); });
  cli_alloc_fail_countdown = 0;
  EXPECT_EQ(out, "__cli_malloc failed!");
  ASSERT_EQ(strlist_count(list), 1);
  EXPECT_STREQ(list[0], "kept");
  cli_free(text);
  strlist_free(&list);
}

TEST(StrlistTest, FilterPrefixIgnoresCaseAndCopies) {
  char **list = nullptr;
  for (const char *t : {"Eth0", "eth1", "lo", "ETHER"})
    strlist_append(&list, cli_strdup(t));
  char **picked = strlist_filter_prefix("eTh", list);
  ASSERT_EQ(strlist_count(picked), 3);
  EXPECT_STREQ(picked[0], "Eth0");
  EXPECT_STREQ(picked[2], "ETHER");
  EXPECT_NE(picked[0], list[0]);
  strlist_free(&picked);
  EXPECT_EQ(strlist_filter_prefix("x", list), nullptr);
  picked = strlist_filter_prefix(nullptr, list);
  EXPECT_EQ(strlist_count(picked), 4);
  strlist_free(&picked);
  EXPECT_EQ(strlist_filter_prefix("e", nullptr), nullptr);
  strlist_free(&list);
}

TEST(StrlistTest, TallocVariantKeepsOrderAndOwner) {
  void *owner = talloc_new(nullptr);
  char **choices = nullptr;
  for (const char *t : {"UTC", "CET", "EST"})
    ASSERT_EQ(strlist_append_talloc(owner, &choices, t), 0);
  ASSERT_EQ(strlist_count(choices), 3);
  EXPECT_STREQ(choices[0], "UTC");
  EXPECT_STREQ(choices[2], "EST");
  EXPECT_STREQ(talloc_get_name(choices), "void *");
  EXPECT_EQ(talloc_parent(choices), owner);
  EXPECT_EQ(talloc_parent(choices[1]), owner);
  talloc_free(owner);  // releases array and texts; ASan checks the rest
}

}  // namespace
