// Path texts to nodes and back, and loading the tree from odd listing and
// description replies, side-effect refreshes included.
#include "commands/side_effects.h"
#include "test_util.h"
#include "tree/candidates.h"
#include "tree/load.h"
#include "tree/path.h"
#include "tree/side_effect.h"
#include "tree/strlist.h"
#include "util/text.h"

namespace {

// Returns the path of the node text names ("<null>" for none).
std::string resolved(const char *text) {
  return take(path_of_node(node_from_path(text)));
}

TEST_F(TreeTest, PathTextsResolveFromTheCwdOrTheRoot) {
  // Case twins, a name with "/" and a name "..".
  for (const char *name : {"Eth0", "eth0", "x/y", ".."}) add({"a", name});
  cli_state.cwd = add({"a", "b", "c"})->parent;
  // Text and its node from /a/b; quotes make one name of "x/y" and "..".
  const char *cases[][2] = {
      {"", "/a/b"},           {"/", "/"},
      {"///", "/"},           {"c//", "/a/b/c"},
      {"../../..", "<null>"}, {"c/..", "/a/b"},
      {"nope/..", "<null>"},  {"../ETH0", "/a/Eth0"},
      {"/a/ETH", "<null>"},   {"../x\\/y", "/a/x\\/y"},
      {"../x/y", "<null>"},   {"../\"X/Y\"", "/a/x\\/y"},
      {".", "/a/b"},          {"../\"..\"", "/a/.."},
      {"../b/./C", "/a/b/c"},
  };
  for (const auto &t : cases) {
    EXPECT_EQ(resolved(t[0]), t[1]) << t[0];
    // An absolute text stays as typed; a relative one names the node.
    std::string abs;
    printed([&] { abs = take(absolute_path_text(t[0])); });
    EXPECT_EQ(abs, t[0][0] == '/' ? t[0] : t[1]) << t[0];
  }
  cli_node *made = find_or_create_child(cli_state.cwd, "NEW", 7);
  EXPECT_EQ(find_or_create_child(cli_state.cwd, "new", 0), made);
  // Branch texts read back as the same nodes, in any case.
  const char *branches[][2] = {
      {"/", "<null>"}, {"/a/b/c", "a/b/c/"}, {"/a/x\\/y", "a/x/y/"}};
  for (const auto &t : branches) {
    char *branch = branch_of_node(node_from_path(t[0]));
    EXPECT_EQ(take(path_of_node(node_from_branch(branch))), t[0]);
    EXPECT_EQ(take(branch), t[1]);
  }
  EXPECT_EQ(take(path_of_node(node_from_branch("A/X/Y/"))), "/a/x\\/y");
  // Without a terminal there is no tree to resolve against.
  cli_opts.interactive = false;
  EXPECT_EQ(take(absolute_path_text("..")), "/..");
}

TEST_F(TreeTest, PrefixesSplitWhatExistsAndCandidatesSkipHidden) {
  add({"a", "b", "c"});
  add({"s", "a"});
  add({"s", "ab"});
  const char *cases[][4] = {
      // text, node, prefix, rest
      {"a/b/new", "/a/b", "a/b/", "new"},
      {"/A/\"b\"/c/d", "/a/b/c", "/A/\"b\"/c/", "d"},
      // The rest is cut by character count: a doubled separator shifts it.
      {"/a//b//new", "/a/b", "/a/b/", "//new"},
      {"/s/a", "/s/a", "/s/a/", ""},  // the exact name, not a prefix
      {"/s/abc", "/s", "/s/", "abc"},
      {"zz/top", "/", "<null>", "zz/top"},
  };
  for (const auto &t : cases) {
    char *prefix = nullptr, *rest = cli_strdup(t[0]);
    EXPECT_EQ(take(path_of_node(resolve_path_prefix(&prefix, &rest))), t[1]);
    EXPECT_EQ(take(prefix) + "|" + take(rest), std::string(t[2]) + "|" + t[3]);
  }
  // Completion offers nothing in or below a hidden branch.
  add({"s"})->hidden = 1;
  char **offered =
      child_candidates(cli_state.root, 0, 0, NODE_SELECT_BRANCH, 0, 1);
  EXPECT_EQ(take(join_words(",", offered, strlist_count(offered))),
            "a/b/c,a/b/,a/");
  strlist_free(&offered);
}

// Answers every description "ops g" and lists listing at path.
void serve(const char *path, const char *listing) {
  fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops g"));
  fake_vornal::on(VORNAL_MSG_LIST, path, answer(listing));
}

// Returns the paths of the requests of type, space separated.
std::string sent(int type) {
  std::string out;
  for (const std::string &r : fake_vornal::request_texts(type))
    out += (out.empty() ? "" : " ") + r.substr(9, r.find("\",NULL", 9) - 9);
  return out;
}

TEST_F(TreeTest, ListingsOfEveryShape) {
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
  for (const auto &c : cases) {
    fake_vornal::reset();
    serve("/", c[0]);
    cli_state.cwd = add({"stale"});
    EXPECT_EQ(build_tree(), 0);
    EXPECT_EQ(shape(cli_state.root), c[1]) << c[0];
    // One listing of the root, which is never described; then the nodes
    // depth first.
    EXPECT_EQ(sent(VORNAL_MSG_LIST), "/");
    EXPECT_EQ(sent(VORNAL_MSG_DESCRIBE), c[2]) << c[0];
  }
  // Short lines never climb above the requested node.
  cli_node *top = add({"top"});
  serve("/top", "q/r/s\nt");
  load_subtree(top);
  EXPECT_EQ(shape(top), "s t");
}

TEST_F(TreeTest, ReloadReplacesDescendantsAndMovesTheCwd) {
  serve("/", "net\nnet/eth0\nnet/eth0/mtu\nsys");
  build_tree();
  cli_node *net = cli_state.root->first_child;
  cli_state.cwd = net->first_child->first_child;  // /net/eth0/mtu
  cli_state.root->last_child->matches = net->first_child;
  fake_vornal::reset();
  serve("/net", "eth1\neth1/mtu");
  load_subtree(net);
  EXPECT_EQ(shape(cli_state.root), "net(eth1(mtu)) sys");
  EXPECT_EQ(cli_state.cwd, net);
  EXPECT_EQ(cli_state.root->last_child->matches, nullptr);
  EXPECT_EQ(sent(VORNAL_MSG_DESCRIBE), "/net/eth1 /net/eth1/mtu");
  // A listing without reply or handle leaves no children.
  for (fake_vornal::reply r : {status_only("OK"), no_handle()}) {
    fake_vornal::on(VORNAL_MSG_LIST, "/net", r);
    load_subtree(net);
    EXPECT_TRUE(!net->first_child && !net->last_child);
  }
}

TEST_F(TreeTest, DescriptionLines) {
  serve("/", "p\nq\ntz\nn");
  fake_vornal::on(
      VORNAL_MSG_DESCRIBE, "/p",
      answer("len 4\nops gs\nflags.1 hide\nops adhlgsrm\nnonsense"));
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/q",
                  answer("matches /tz\nchoices\nmatches\nmatches /none\nlen"));
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/tz",
                  answer("ops gsgsgsgsgsgsgsgsgs\nchoices UTC\n"
                         "choices Europe/Oslo\nchoices two words"));
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/n", status_only("OK"));
  cli_opts.interactive = true;
  cli_state.status = 3;
  EXPECT_EQ(printed([] { build_tree(); }), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, 3);  // a terminal keeps its status
  cli_node *p = cli_state.root->first_child, *q = p->next, *tz = q->next;
  EXPECT_EQ(p->flags, 0xFFu);
  EXPECT_STREQ(p->ops, "adhlgsrm");
  EXPECT_EQ(p->hidden, 1);
  EXPECT_EQ(q->matches, tz);  // an unresolvable later line changes nothing
  EXPECT_TRUE(!q->flags && !q->choices && !q->hidden);
  ASSERT_EQ(strlist_count(tz->choices), 3);
  EXPECT_EQ(std::string(tz->choices[1]) + "|" + tz->choices[2],
            "Europe/Oslo|two words");
  EXPECT_STREQ(tz->ops, "gsgsgsgsgsgsgsgsgs");  // too long for the record
  EXPECT_EQ(tz->flags, 0x30u);
  cli_opts.interactive = false;
  EXPECT_EQ(printed([&] { load_node_attributes(tz->next); }),
            "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  fake_vornal::on(VORNAL_MSG_DESCRIBE, "/n", no_handle());
  cli_state.status = 0;
  EXPECT_EQ(printed([&] { load_node_attributes(tz->next); }), "");
  EXPECT_EQ(cli_state.status, 0);
}

// A side-effect entry's value names the subtree to re-read, "."-separated
// from the root or relative to the current node.
TEST_F(TreeTest, SideEffectsRereadWhatTheirEntriesName) {
  const char entry[] = "/param/side-effect/net/eth0",
             gone[] =
                 "Hmm. Side effect path .net.gone doesn't seem to exist.\n";
  add({"param", "side-effect", "net", "eth0"});
  add({"net", "eth0", "mtu"});
  add({"net", "routes", "old"});
  fake_vornal::on(VORNAL_MSG_GET, entry, answer(".net.routes"), "mtu");
  fake_vornal::on(VORNAL_MSG_GET, entry, answer(".net.gone"), "gone");
  fake_vornal::on(VORNAL_MSG_GET, entry, no_handle(), "lost");
  fake_vornal::on(VORNAL_MSG_GET, entry,
                  status_only("ERR No such file or directory"), "bad");
  fake_vornal::on(VORNAL_MSG_GET, entry, answer("eth0"), "");
  serve("/net/routes", "r1\nr2");
  serve("/net/eth0", "mtu\nspeed");
  // A set refreshes per pair; a structure change reads the entry of its
  // parent path, unnamed. The lines are read as in a script.
  const char *cases[][3] = {
      {"set /net/eth0 lost= mtu= bad=", "", "/net/routes"},
      {"set /net/eth0 gone=", gone, ""},
      {"set /net/routes mtu=", "", ""},  // no entry: nothing asked
      {"create /net/eth0/vlan", "", "/net/eth0"},
      {"delete /net/eth0/vlan/", "", "/net/eth0"},
  };
  cli_state.cwd = add({"net"});
  cli_opts.interactive = false;
  for (const auto &c : cases) {
    fake_vornal::clear_requests();
    parsed_command *pc = parse_command_line(c[0], 0);
    ASSERT_NE(pc, nullptr) << c[0];
    EXPECT_EQ(printed([&] { check_side_effects(pc, c[0][0] == 's'); }), c[1]);
    free_parsed_command(pc);
    EXPECT_EQ(sent(VORNAL_MSG_LIST), c[2]) << c[0];
  }
  EXPECT_EQ(shape(add({"net"})), "eth0(mtu speed) routes(r1 r2)");
}

}  // namespace
