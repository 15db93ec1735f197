// Node records, string lists, path texts to nodes and back, and loading the
// tree through the library stand-in (listing and description parsing, the
// exact requests), side-effect refreshes and show's value lookups.
#include <string.h>

#include "commands/side_effects.h"
#include "test_util.h"
#include "tree/listing.h"
#include "tree/load.h"
#include "tree/path.h"
#include "tree/side_effect.h"
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
  const char *left[] = {"k1,k2", "k0,k2", "k0,k1"};
  for (int victim = 0; victim < 3; victim++) {
    cli_node *p = add({"p"});
    cli_node *kids[3] = {create_node(p, "k0", 0), create_node(p, "k1", 0),
                         create_node(p, "k2", 0)};
    disconnect_child(p, kids[victim]);
    EXPECT_EQ(kids[victim]->next, nullptr);
    EXPECT_EQ(kids[victim]->parent, nullptr);
    talloc_free(kids[victim]);
    EXPECT_EQ(child_names(p), left[victim]) << "victim " << victim;
    EXPECT_STREQ(p->last_child->name, victim == 2 ? "k1" : "k2");
    EXPECT_EQ(p->last_child->next, nullptr);
    disconnect_child(cli_state.root, p);
    talloc_free(p);
  }
  cli_node *only = add({"p", "only"});
  disconnect_child(only->parent, only);
  EXPECT_EQ(add({"p"})->first_child, nullptr);
  EXPECT_EQ(add({"p"})->last_child, nullptr);
  talloc_free(only);
  EXPECT_EQ(printed([&] { disconnect_child(a, c); }),
            "Argh. Trying to disconnect a child from a parent to whom they "
            "don't belong.");
  EXPECT_EQ(child_names(b), "c");
  EXPECT_EQ(c->parent, b);
}

// Walks and ancestor chains show in the path tests below.
TEST_F(Tree, FindChildAndFindOrCreate) {
  cli_node *dots = add({"a", ".."});
  EXPECT_EQ(find_child(a, "."), a);
  EXPECT_EQ(find_child(a, ".."), cli_state.root);
  EXPECT_EQ(find_child(cli_state.root, ".."), nullptr);
  EXPECT_EQ(find_child(a, "\"..\""), dots);  // quoted: a name, not a step
  EXPECT_EQ(find_child(a, "eth0"), eth);     // the first of the case twins
  EXPECT_EQ(find_child(a, "x\\/y"), slashed);
  EXPECT_EQ(find_child(a, "\"X/Y\""), slashed);
  EXPECT_EQ(find_child(a, "eth"), nullptr);
  cli_node *made = find_or_create_child(b, "new", 0);
  EXPECT_EQ(find_or_create_child(b, "NEW", 7), made);
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

TEST_F(Tree, PathTextsAndNodesFromPathsFromTheCwdOrRoot) {
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
  // Texts of nodes read back as the same nodes.
  const struct {
    cli_node *node;
    const char *path, *branch;
  } texts[] = {{cli_state.root, "/", "<null>"},
               {c, "/a/b/c", "a/b/c/"},
               {slashed, "/a/x\\/y", "a/x/y/"}};
  for (const auto &t : texts) {
    EXPECT_EQ(take(path_of_node(t.node)), t.path);
    EXPECT_EQ(take(branch_of_node(t.node)), t.branch);
    EXPECT_EQ(node_from_path(t.path), t.node) << t.path;
  }
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

class Load : public TreeTest {
 protected:
  // Every description is answered "ops g" unless a test says otherwise.
  void SetUp() override {
    TreeTest::SetUp();
    fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops g"));
  }
  void list(const char *path, const char *reply) {
    fake_vornal::on(VORNAL_MSG_LIST, path, answer(reply));
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

// Returns a request text for type with path and name in their places.
std::string req(int type, const char *path, const char *name = nullptr) {
  std::string n = name ? "\"" + std::string(name) + "\"" : "NULL";
  return std::to_string(type) + "(NULL,\"" + path + "\",NULL," + n + ",NULL)";
}

TEST_F(Load, ListingShapes) {
  const char *cases[][3] = {
      // A jump of two or more levels keeps the previous parent; a shorter
      // line climbs from the previous parent.
      {"a\na/b/c\na/b/c/d\na/x/y/z\nm\nm/n\nm/n/o\np", "a c(d z) m(n(o)) p",
       "/a /c /c/d /c/z /m /m/n /m/n/o /p"},
      // Repeated names in another case are reused.
      {"Net\nNet/a\nNET\nnet/B\nnet/b/C\nnEt/A", "Net(a B(C))",
       "/Net /Net/a /Net/B /Net/B/C"},
      // Escaped and encoded slashes stay inside names.
      {"a\\/b\na\\/b/kid\nc%2Fd\ne%2Bf+g\nback\\\\slash",
       "a/b(kid) c/d e+f g back\\slash",
       "/a\\/b /a\\/b/kid /c\\/d /e+f g /back\\slash"},
      {"\na\n\na/b\n", "a(b)", "/a /a/b"},  // empty lines are skipped
  };
  cli_state.cwd = add({"stale"});
  for (const auto &c : cases) {
    fake_vornal::reset();
    fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops g"));
    list("/", c[0]);
    EXPECT_EQ(build_tree(), 0);
    EXPECT_EQ(shape(cli_state.root), c[1]) << c[0];
    // One listing of the root, which is never described; then the nodes
    // depth first.
    EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_LIST),
              strings{req(17, "/")});
    EXPECT_EQ(fake_vornal::request_texts().at(1).substr(0, 3), "18(");
    EXPECT_EQ(cli_state.cwd, cli_state.root);
    EXPECT_EQ(cli_state.root->name, nullptr);
    EXPECT_EQ(talloc_parent(cli_state.root), nullptr);
    EXPECT_EQ(cli_state.root->flags, 0u);
    EXPECT_EQ(cli_state.root->first_child->flags, 0x10u);
    std::string paths;
    for (const std::string &p : described())
      paths += (paths.empty() ? "" : " ") + p;
    EXPECT_EQ(paths, c[2]) << c[0];
  }
  // Short lines never climb above the requested node.
  cli_node *top = add({"top"});
  list("/top", "q/r/s\nt");
  load_subtree(top);
  EXPECT_EQ(shape(top), "s t");
}

TEST_F(Load, ReloadReplacesDescendantsAndMovesTheCwd) {
  list("/", "net\nnet/eth0\nnet/eth0/mtu\nsys");
  build_tree();
  cli_node *net = cli_state.root->first_child;
  cli_state.cwd = net->first_child->first_child;  // /net/eth0/mtu
  cli_state.root->last_child->matches = net->first_child;
  fake_vornal::reset();
  list("/net", "eth1\neth1/mtu");
  fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops gs"));
  load_subtree(net);
  EXPECT_EQ(shape(cli_state.root), "net(eth1(mtu)) sys");
  EXPECT_EQ(cli_state.cwd, net);
  EXPECT_EQ(cli_state.root->last_child->matches, nullptr);
  EXPECT_EQ(net->first_child->flags, 0x30u);
  EXPECT_EQ(net->flags, 0x10u);  // not described again
  // A listing without reply or handle leaves no children.
  for (fake_vornal::reply r : {status_only("OK"), no_handle()}) {
    fake_vornal::reset();
    fake_vornal::on(VORNAL_MSG_LIST, std::nullopt, r);
    load_subtree(net);
    EXPECT_EQ(net->first_child, nullptr);
    EXPECT_EQ(net->last_child, nullptr);
    EXPECT_EQ(fake_vornal::request_texts().size(), 1u);
  }
}

TEST_F(Load, DescriptionLines) {
  list("/", "p\nq\ntz");
  fake_vornal::on(
      VORNAL_MSG_DESCRIBE, "/p",
      answer("len 4\nops gs\nflags.1 hide\nops adhlgsrm\nnonsense"));
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/q",
                  answer("matches /tz\nchoices\nmatches\nmatches /none\nlen"));
  fake_vornal::on(
      VORNAL_MSG_DESCRIBE, "/tz",
      answer("ops gsgsgsgsgsgsgsgsgs\nchoices UTC\nchoices Europe/Oslo\n"
             "choices two words"));
  build_tree();
  cli_node *p = cli_state.root->first_child, *q = p->next, *tz = q->next;
  EXPECT_EQ(p->flags, 0xFFu);
  EXPECT_STREQ(p->ops, "adhlgsrm");
  EXPECT_EQ(p->hidden, 1);
  EXPECT_EQ(q->matches, tz);  // an unresolvable later line changes nothing
  EXPECT_EQ(q->flags, 0u);
  EXPECT_EQ(q->choices, nullptr);
  EXPECT_EQ(q->hidden, 0);
  ASSERT_EQ(strlist_count(tz->choices), 3);
  EXPECT_STREQ(tz->choices[1], "Europe/Oslo");
  EXPECT_STREQ(tz->choices[2], "two words");
  EXPECT_EQ(talloc_parent(tz->choices), tz);
  EXPECT_STREQ(tz->ops, "gsgsgsgsgsgsgsgsgs");  // too long for the record
  EXPECT_EQ(tz->flags, 0x30u);
}

TEST_F(Load, DescriptionWithoutReply) {
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
  fake_vornal::reset();
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/n", no_handle());
  cli_state.status = 0;
  EXPECT_EQ(printed([&] { load_node_attributes(n); }), "");
  EXPECT_EQ(cli_state.status, 0);
}

TEST_F(Load, ShowAsksOncePerReadableNodeAndHidesHiddenOnes) {
  cli_node *net = add({"net"});
  add({"net", "eth0", "mtu"})->flags = NODE_OP_GET;
  add({"net", "eth0", "shadow"})->hidden = 1;
  add({"net", "eth0", "shadow", "inner"})->flags = NODE_OP_GET;
  add({"net", "eth1", "speed"})->flags = NODE_OP_GET;
  add({"net", "eth1", "lost"})->flags = NODE_OP_GET;
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth0", "mtu", answer("1500"));
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth1", "speed",
                  status_only("ERR No such file or directory"));
  fake_vornal::on(VORNAL_MSG_GET, "/net/eth1", "lost", no_handle());
  EXPECT_EQ(printed([&] { print_tree(net, 1, 1); }),
            "net\n  eth0\n    mtu=1500\n  eth1\n"
            "    speed=ERR No such file or directory\n    lost\n");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, "/net/eth0", "mtu"), req(15, "/net/eth1", "speed"),
                     req(15, "/net/eth1", "lost")}));
  // A hidden node itself: no line of its own, its children at depth 1.
  fake_vornal::clear_requests();
  EXPECT_EQ(printed([&] {
              print_tree(add({"net", "eth0", "shadow"}), 0, 1);
            }),
            "  inner\n");
  EXPECT_TRUE(fake_vornal::requests().empty());
}

const char entry[] = "/param/side-effect/net/eth0";

class SideEffect : public Load {
 protected:
  void SetUp() override {
    Load::SetUp();
    add({"param", "side-effect", "net", "eth0"});
    add({"net", "eth0", "mtu"});
    add({"net", "routes", "old"});
  }
  // Runs check_side_effects on a command for path with the given pair names
  // and returns what it printed.
  std::string check(const char *path, std::initializer_list<const char *> names,
                    int per_value) {
    parsed_command *pc = make_command(path, names);
    std::string out = printed([&] { check_side_effects(pc, per_value); });
    talloc_free(pc);
    return out;
  }
  void value(const char *name, fake_vornal::reply r) {
    fake_vornal::on(VORNAL_MSG_GET, entry, name, r);
  }
};

TEST_F(SideEffect, OneValueRequestPerPairInOrder) {
  value("mtu", answer(".net.routes"));
  value("speed", answer(".net.eth0"));
  list("/net/routes", "r1\nr2");
  list("/net/eth0", "mtu\nspeed");
  EXPECT_EQ(check("/net/eth0", {"mtu", "speed"}, 1), "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, "mtu"), req(17, "/net/routes"),
                     req(18, "/net/routes/r1"), req(18, "/net/routes/r2"),
                     req(15, entry, "speed"), req(17, "/net/eth0"),
                     req(18, "/net/eth0/mtu"), req(18, "/net/eth0/speed")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "r1,r2");
}

TEST_F(SideEffect, SkipsUnknownPathsAndMissingValues) {
  value("mtu", answer(".net.gone"));
  EXPECT_EQ(check("/net/eth0", {"mtu"}, 1),
            "Hmm. Side effect path .net.gone doesn't seem to exist.\n");
  // No local entry: the daemon is not even asked.
  fake_vornal::clear_requests();
  EXPECT_EQ(check("/net/routes", {"mtu"}, 1), "");
  EXPECT_TRUE(fake_vornal::requests().empty());
  value("speed", status_only("ERR No such file or directory"));
  value("lost", no_handle());
  EXPECT_EQ(check("/net/eth0", {"speed", "lost"}, 1), "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, "speed"), req(15, entry, "lost")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "old");
}

TEST_F(SideEffect, RelativeValuesAndNodeChanges) {
  cli_state.cwd = add({"net"});
  value("mtu", answer("routes"));  // resolved from the current node
  list("/net/routes", "fresh");
  refresh_side_effect(entry, "mtu");
  EXPECT_EQ(child_names(add({"net", "routes"})), "fresh");
  // A create, delete or rename of /net/eth0/vlan reads the entry of
  // /net/eth0 itself, with an empty parameter name.
  fake_vornal::reset();
  value("", answer(".net.routes"));
  fake_vornal::on(VORNAL_MSG_LIST, "/net/routes", status_only("OK"));
  EXPECT_EQ(check("/net/eth0/vlan", {"ignored"}, 0), "");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{req(15, entry, ""), req(17, "/net/routes")}));
  EXPECT_EQ(child_names(add({"net", "routes"})), "");
}

}  // namespace
