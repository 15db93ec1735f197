// Node records, string lists, and path texts to nodes and back.
#include <string.h>

#include "test_util.h"
#include "tree/path.h"
#include "tree/strlist.h"

namespace {

// /a/{b/c, Eth0, eth0, x/y, "My node"}: case twins and names with "/".
class Tree : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    c = add({"a", "b", "c"});
    b = c->parent;
    a = b->parent;
    eth = add({"a", "Eth0"});
    twin = add({"a", "eth0"});
    slashed = add({"a", "x/y"});
    spaced = add({"a", "My node"});
  }
  cli_node *a, *b, *c, *eth, *twin, *slashed, *spaced;
};

TEST_F(Tree, DisconnectFirstMiddleLastOnlyAndStranger) {
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
  EXPECT_EQ(printed([&] { disconnect_child(a, c); }),
            "Argh. Trying to disconnect a child from a parent to whom they "
            "don't belong.");
  EXPECT_EQ(child_names(b), "c");
  EXPECT_EQ(c->parent, b);
}

TEST_F(Tree, FindChildWalkAndAncestors) {
  cli_node *dots = add({"a", ".."});
  EXPECT_EQ(find_child(a, "."), a);
  EXPECT_EQ(find_child(a, ".."), cli_state.root);
  EXPECT_EQ(find_child(cli_state.root, ".."), nullptr);
  EXPECT_EQ(find_child(a, "\"..\""), dots);  // quoted: a name, not a step
  EXPECT_EQ(find_child(a, "eth0"), eth);     // the first of the case twins
  EXPECT_EQ(find_child(a, "x\\/y"), slashed);
  EXPECT_EQ(find_child(a, "\"X/Y\""), slashed);
  EXPECT_EQ(find_child(a, "eth"), nullptr);
  char w1[] = "A", w2[] = "B", w3[] = "new";
  char *words[] = {w1, w2, w3};
  EXPECT_EQ(walk_path(cli_state.root, words, 2), b);
  EXPECT_EQ(walk_path(cli_state.root, words, 3), nullptr);
  EXPECT_EQ(walk_path(cli_state.root, words, 0), cli_state.root);
  cli_node *made = find_or_create_child(b, "new", 0);
  EXPECT_EQ(find_or_create_child(b, "NEW", 7), made);
  int count = -1;
  cli_node **chain = node_ancestors(c, &count);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(talloc_get_name(chain), "struct cli_node *");
  EXPECT_EQ(chain[0], a);
  EXPECT_EQ(chain[2], c);
  talloc_free(chain);
  talloc_free(node_ancestors(cli_state.root, &count));
  EXPECT_EQ(count, 0);
}

// The filters and the talloc variant are covered by the parser's candidate
// tests and the loader fuzz target.
TEST_F(Tree, FailedListGrowthLeavesTheListAlone) {
  char **list = nullptr;
  EXPECT_EQ(strlist_append(&list, cli_strdup("kept")), 0);
  char *text = cli_strdup("lost");
  cli_alloc_fail_countdown = 1;
  EXPECT_EQ(printed([&] { EXPECT_EQ(strlist_append(&list, text), 1); }),
            "__cli_malloc failed!");
  cli_alloc_fail_countdown = 0;
  EXPECT_EQ(strlist_count(list), 1);
  EXPECT_EQ(list[1], nullptr);
  cli_free(text);
  strlist_free(&list);
  EXPECT_EQ(list, nullptr);
}

TEST_F(Tree, PathTextsOfNodes) {
  EXPECT_EQ(take(path_of_node(cli_state.root)), "/");
  EXPECT_EQ(take(path_of_node(b)), "/a/b");
  EXPECT_EQ(take(path_of_node(slashed)), "/a/x\\/y");
  EXPECT_EQ(take(branch_of_node(cli_state.root)), "<null>");
  EXPECT_EQ(take(branch_of_node(c)), "a/b/c/");
  EXPECT_EQ(take(branch_of_node(slashed)), "a/x/y/");
}

TEST_F(Tree, NodeFromPathStartsAtCwdOrRoot) {
  cli_state.cwd = a;
  const struct {
    const char *text;
    cli_node *want;
  } cases[] = {
      {nullptr, a},          {"", a},
      {"/", cli_state.root}, {"///", cli_state.root},
      {"b//c/", c},          {"../..", nullptr},
      {"b/..", a},           {"nope/..", nullptr},
      {"/a/eth0", eth},      {"x\\/y", slashed},
      {"\"x/y\"", slashed},  {"/a/\"X/Y\"", slashed},
      {"x/y", nullptr},  // two words, no node x
  };
  for (const auto &t : cases)
    EXPECT_EQ(node_from_path(t.text), t.want) << (t.text ? t.text : "null");
  EXPECT_EQ(node_from_absolute_path("/a/", "b"), b);
  EXPECT_EQ(node_from_absolute_path("/a/b", "c/"), c);
  EXPECT_EQ(
      printed([&] { EXPECT_EQ(node_from_absolute_path("/a", "q"), nullptr); }),
      "\n\nArgh. Cannot convert /a to an absolute path.\n");
}

TEST_F(Tree, AbsolutePathText) {
  cli_state.cwd = b;
  const char *cases[][2] = {
      {"/any/thing", "/any/thing"}, {nullptr, "/a/b"}, {".", "/a/b"},
      {"../b/./C", "/a/b/c"},       {"..", "/a"},      {"../eth0", "/a/Eth0"},
      {"../\"x/y\"", "/a/x\\/y"}};
  for (const auto &t : cases)
    EXPECT_EQ(take(absolute_path_text(t[0])), t[1]) << t[1];
  std::string out =
      printed([&] { EXPECT_EQ(take(absolute_path_text("zz")), "<null>"); });
  EXPECT_NE(out.find("Argh. Cannot convert /a/b"), std::string::npos);
  // Without a terminal there is no tree to resolve against.
  cli_opts.interactive = false;
  EXPECT_EQ(take(absolute_path_text("x/y")), "/x/y");
  EXPECT_EQ(take(absolute_path_text("..")), "/..");
}

TEST_F(Tree, ResolvePrefixSplitsWhatExistsFromTheRest) {
  cli_node *exact = add({"s", "a"});
  add({"s", "ab"});
  const struct {
    const char *text, *prefix, *rest;
    cli_node *want;
  } cases[] = {
      {"a/b/new", "a/b/", "new", b},
      {"/a/b", "/a/b/", "", b},
      {"/A/\"b\"/c/d", "/A/\"b\"/c/", "d", c},
      // The rest is cut by character count: a doubled separator shifts it.
      {"a//b/new", "a/b/", "/new", b},
      {"/a//b//new", "/a/b/", "//new", b},
      {"/zz/top", "/", "zz/top", cli_state.root},
      {"/s/a", "/s/a/", "", exact},  // the exact name, not a prefix
      {"/s/abc", "/s/", "abc", exact->parent},
  };
  for (const auto &t : cases) {
    char *prefix = nullptr, *rest = cli_strdup(t.text);
    EXPECT_EQ(resolve_path_prefix(&prefix, &rest), t.want) << t.text;
    EXPECT_EQ(take(prefix) + "|" + take(rest),
              std::string(t.prefix) + "|" + t.rest);
  }
  // Nothing resolves: the rest is untouched, not even copied.
  char *prefix = nullptr, *rest = cli_strdup("zz/top"), *given = rest;
  EXPECT_EQ(resolve_path_prefix(&prefix, &rest), cli_state.root);
  EXPECT_EQ(prefix, nullptr);
  EXPECT_EQ(rest, given);
  cli_free(rest);
}

}  // namespace
