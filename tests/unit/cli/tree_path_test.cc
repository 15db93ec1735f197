// Path texts to nodes and back.
#include <string.h>

#include "tree/path.h"
#include "tree_test_util.h"

namespace {

class PathTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    b = add({"a", "b"});
    c = add({"a", "b", "c"});
    eth = add({"a", "Eth0"});
    twin = add({"a", "eth0"});
    slashed = add({"a", "x/y"});
    spaced = add({"a", "My node"});
  }
  cli_node *a() { return cli_state.root->first_child; }
  cli_node *b, *c, *eth, *twin, *slashed, *spaced;
};

// Runs resolve_path_prefix on text with a null prefix; returns the node and
// stores prefix and rest as strings.
cli_node *resolve(const char *text, std::string *prefix, std::string *rest) {
  char *p = nullptr;
  char *r = cli_strdup(text);
  cli_node *node = resolve_path_prefix(&p, &r);
  *prefix = take(p);
  *rest = take(r);
  return node;
}

TEST_F(PathTest, PathOfNodeEscapesAndBranchDoesNot) {
  EXPECT_EQ(take(path_of_node(cli_state.root)), "/");
  EXPECT_EQ(take(path_of_node(b)), "/a/b");
  EXPECT_EQ(take(path_of_node(slashed)), "/a/x\\/y");
  EXPECT_EQ(take(branch_of_node(cli_state.root)), "<null>");
  EXPECT_EQ(take(branch_of_node(c)), "a/b/c/");
  EXPECT_EQ(take(branch_of_node(slashed)), "a/x/y/");
}

TEST_F(PathTest, NodeFromPathStartsAtCwdOrRoot) {
  cli_state.cwd = a();
  EXPECT_EQ(node_from_path(nullptr), a());
  EXPECT_EQ(node_from_path(""), a());
  EXPECT_EQ(node_from_path("/"), cli_state.root);
  EXPECT_EQ(node_from_path("///"), cli_state.root);
  EXPECT_EQ(node_from_path("b/c"), c);
  EXPECT_EQ(node_from_path("b//c/"), c);
  EXPECT_EQ(node_from_path("/a/b"), b);
  EXPECT_EQ(node_from_path(".."), cli_state.root);
  EXPECT_EQ(node_from_path("../.."), nullptr);
  EXPECT_EQ(node_from_path("b/.."), a());
  EXPECT_EQ(node_from_path("nope/.."), nullptr);
  EXPECT_EQ(node_from_path("\"my NODE\""), spaced);
}

TEST_F(PathTest, CaseTwinsAndSlashNames) {
  cli_state.cwd = a();
  EXPECT_EQ(node_from_path("ETH0"), eth);
  EXPECT_EQ(node_from_path("/a/eth0"), eth);  // never the later twin
  EXPECT_EQ(take(absolute_path_text("eth0")), "/a/Eth0");
  EXPECT_EQ(node_from_path("x\\/y"), slashed);
  EXPECT_EQ(node_from_path("\"x/y\""), slashed);
  EXPECT_EQ(node_from_path("/a/\"X/Y\""), slashed);
  EXPECT_EQ(node_from_path("x/y"), nullptr);  // two words, no node x
  EXPECT_EQ(take(absolute_path_text("\"x/y\"")), "/a/x\\/y");
}

TEST_F(PathTest, ResolvePrefixSplitsWhatExistsFromTheRest) {
  std::string prefix, rest;
  EXPECT_EQ(resolve("a/b/new", &prefix, &rest), b);
  EXPECT_EQ(prefix, "a/b/");
  EXPECT_EQ(rest, "new");
  EXPECT_EQ(resolve("/a/b", &prefix, &rest), b);
  EXPECT_EQ(prefix, "/a/b/");
  EXPECT_EQ(rest, "");
  EXPECT_EQ(resolve("/A/\"b\"/c/d", &prefix, &rest), c);
  EXPECT_EQ(prefix, "/A/\"b\"/c/");
  EXPECT_EQ(rest, "d");
  // The rest is cut by character count, so a doubled separator shifts it.
  EXPECT_EQ(resolve("a//b/new", &prefix, &rest), b);
  EXPECT_EQ(prefix, "a/b/");
  EXPECT_EQ(rest, "/new");
  EXPECT_EQ(resolve("/a//b//new", &prefix, &rest), b);
  EXPECT_EQ(rest, "//new");
}

TEST_F(PathTest, ResolvePrefixWhenNothingResolves) {
  std::string prefix, rest;
  EXPECT_EQ(resolve("/zz/top", &prefix, &rest), cli_state.root);
  EXPECT_EQ(prefix, "/");
  EXPECT_EQ(rest, "zz/top");
  char *p = nullptr;
  char *r = cli_strdup("zz/top");
  char *given = r;
  EXPECT_EQ(resolve_path_prefix(&p, &r), cli_state.root);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(r, given);  // untouched, not even copied
  cli_free(r);
}

TEST_F(PathTest, ResolvePrefixPrefersTheExactName) {
  cli_node *exact = add({"s", "a"});
  add({"s", "ab"});
  std::string prefix, rest;
  EXPECT_EQ(resolve("/s/a", &prefix, &rest), exact);
  EXPECT_EQ(rest, "");
  EXPECT_EQ(resolve("/s/abc", &prefix, &rest), exact->parent);
  EXPECT_EQ(rest, "abc");
}

TEST_F(PathTest, NodeFromAbsolutePath) {
  EXPECT_EQ(node_from_absolute_path("/a", "b"), b);
  EXPECT_EQ(node_from_absolute_path("/a/", "b"), b);
  EXPECT_EQ(node_from_absolute_path("/a/b", "c/"), c);
  std::string out;
  out =
      printed([&] { EXPECT_EQ(node_from_absolute_path("/a", "q"), nullptr); });
  EXPECT_EQ(out, "\n\nArgh. Cannot convert /a to an absolute path.\n");
}

TEST_F(PathTest, AbsolutePathTextInteractive) {
  cli_state.cwd = b;
  EXPECT_EQ(take(absolute_path_text("/any/thing")), "/any/thing");
  EXPECT_EQ(take(absolute_path_text(nullptr)), "/a/b");
  EXPECT_EQ(take(absolute_path_text(".")), "/a/b");
  EXPECT_EQ(take(absolute_path_text("../b/./C")), "/a/b/c");
  EXPECT_EQ(take(absolute_path_text("..")), "/a");
  std::string out =
      printed([&] { EXPECT_EQ(take(absolute_path_text("zz")), "<null>"); });
  EXPECT_NE(out.find("Argh. Cannot convert /a/b"), std::string::npos);
}

TEST_F(PathTest, AbsolutePathTextWithoutATerminal) {
  cli_opts.interactive = false;
  cli_state.cwd = b;  // ignored: there is no tree to resolve against
  EXPECT_EQ(take(absolute_path_text("x/y")), "/x/y");
  EXPECT_EQ(take(absolute_path_text("/x")), "/x");
  EXPECT_EQ(take(absolute_path_text("..")), "/..");
}

}  // namespace
