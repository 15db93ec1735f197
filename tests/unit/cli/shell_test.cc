// The shell's engine against a libvornal2 stand-in scripting exact replies:
// the allocator, odd listings and descriptions, answers vornd never gives.
// What a user sees, side effects too, is in the transcripts.
#include <gtest/gtest.h>
#include <string.h>

#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/dispatch.h"
#include "shell/read_loop.h"
#include "support/fake_vornal.h"
#include "tree/candidates.h"
#include "tree/load.h"
#include "tree/node.h"
#include "tree/path.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;
const fake_vornal::reply kNoStatus = status_only(std::nullopt);

// Returns an allocator text ("<null>" for null) and releases it.
std::string take(char *text) {
  std::string s = text ? text : "<null>";
  cli_free(text);
  return s;
}

// Returns the tree below node as "name(children...)" text.
std::string shape(const cli_node *node) {
  std::string out;
  for (const cli_node *c = node->first_child; c; c = c->next) {
    out += (out.empty() ? "" : " ") + std::string(c->name ? c->name : "");
    if (c->first_child) out += "(" + shape(c) + ")";
  }
  return out;
}

// Runs fn and returns what it printed to stdout.
template <typename Fn>
std::string printed(Fn fn) {
  fflush(stdout);
  ::testing::internal::CaptureStdout();
  fn();
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    fake_vornal::reset();
    cli_state.root = cli_state.cwd = create_node(nullptr, nullptr, 0);
  }
  void TearDown() override {
    free_tree();
    strlist_free(&cli_state.journal);
    cli_free(cli_state.journal_branch);
    cli_reset_records();
    EXPECT_EQ(fake_vornal::live_handles(), 0) << "message handles leaked";
  }
  // Returns the node names lead to from the root, creating what is missing.
  cli_node *add(std::vector<const char *> names) {
    char **words = const_cast<char **>(names.data());
    return find_or_create_path(cli_state.root, words, names.size());
  }
  // Runs line; returns the status and what it printed.
  std::string run(const char *line) {
    std::string out = printed([&] { run_command_line(line, 0); });
    return std::to_string(cli_state.status) + " " + out;
  }
};

// Runs fn with the n-th allocation failing; returns what was printed.
template <typename Fn>
std::string failing(int n, Fn fn) {
  cli_alloc_fail_countdown = n;
  std::string out = printed(fn);
  cli_alloc_fail_countdown = 0;
  return out;
}

TEST(Alloc, BlocksAreZeroedAlignedAndReallocCopiesTheRecordedSize) {
  // A dirty block given back is likely handed out again.
  char *dirty = static_cast<char *>(__cli_malloc(24));
  memset(dirty, 'x', 24);
  cli_free(dirty);
  char *block = static_cast<char *>(__cli_malloc(24));
  EXPECT_EQ(std::string(block, 24), std::string(24, '\0'));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(max_align_t), 0u);
  cli_free(block);
  char *text = static_cast<char *>(cli_realloc(nullptr, 5));
  memcpy(text, "abcde", 5);
  // Growing copies the three recorded bytes (ASan catches a wider read).
  text = static_cast<char *>(cli_realloc(cli_realloc(text, 3), 40));
  EXPECT_EQ(std::string(text, 40), "abc" + std::string(37, '\0'));
  // Junk behind the terminator of a larger block must not survive.
  memcpy(text, "xy\0JUNK", 7);
  EXPECT_EQ(cli_extend(&text, "z"), 0);
  EXPECT_EQ(take(text), "xyz");
}

TEST(Alloc, FailedAllocationSaysSoAndKeepsTheOldText) {
  const std::string said = "__cli_malloc failed!";
  char *text = cli_strdup("old"), *last = nullptr, **words = nullptr;
  EXPECT_EQ(failing(1, [&] { EXPECT_FALSE(cli_realloc(text, 100)); }), said);
  EXPECT_EQ(failing(1, [&] { EXPECT_EQ(cli_extend(&text, "new"), 1); }),
            said + "Argh. Failed to extend a string!\n");
  for (int n = 1; n <= 4; ++n)
    failing(n, [&] {
      split_words("a b c", 5, &words, ' ', '"', '\\', 0, WORD_DECODE);
    });
  EXPECT_EQ(words, nullptr);  // and nothing leaked
  EXPECT_EQ(take(text), "old");
  text = cli_strdup("/a/b");
  for (int n = 1; n <= 2; ++n)
    failing(n, [&] { EXPECT_EQ(split_last_component(&text, &last), 1); });
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(take(text), "/a/b");
}

TEST(Text, UrlDecodeAndDequote) {
  // Non-hex digits count as 0: %zz is a zero byte that ends the text. A
  // "%" without two characters behind it is kept; exactly sized heap copies
  // let ASan catch a look past the end.
  const char *decoded[][2] = {{"ab%zzcd", "ab"}, {"a+%2Fb", "a /b"},
                              {"abc%", "abc%"},  {"abc%4", "abc%4"},
                              {"%", "%"},        {"+%4", " %4"}};
  for (const auto &c : decoded) {
    char *exact = strdup(c[0]);
    EXPECT_EQ(take(url_decode(exact)), c[1]) << c[0];
    free(exact);
  }
  EXPECT_EQ(take(dequote_text("a\\\\b\\\"c\"d\\")), "a\\b\"cd");
  EXPECT_EQ(take(dequote("ab\"cd", 4, '\\', '"')), "abc");  // n bytes only
}

TEST_F(Shell, CandidatesSkipHiddenAndIgnoreCase) {
  // Completion offers nothing in or below a hidden branch; the partial text
  // matches in any case (the transcripts type lower case only).
  add({"a", "b", "c"});
  add({"s", "a"})->parent->hidden = 1;
  for (const char *partial : {(const char *)0, "A/B"}) {
    char **offered =
        child_candidates(cli_state.root, 0, partial, NODE_SELECT_BRANCH, 0, 1);
    EXPECT_EQ(take(join_words(",", offered, strlist_count(offered))),
              partial ? "a/b/c,a/b/" : "a/b/c,a/b/,a/");
    strlist_free(&offered);
  }
}

// Answers every description "ops g" and lists listing at path.
void serve(const char *path, const char *listing) {
  fake_vornal::on(VORNAL_MSG_DESCRIBE, std::nullopt, answer("ops g"));
  fake_vornal::on(VORNAL_MSG_LIST, path, answer(listing));
}

// Returns the paths of the requests of type, space separated.
std::string sent(int type) {
  std::string out;
  for (const fake_vornal::request &r : fake_vornal::requests())
    if (r.type == type)
      out += (out.empty() ? "" : " ") + r.args[1].value_or("NULL");
  return out;
}

TEST_F(Shell, ListingsOfEveryShape) {
  const char *cases[][3] = {
      // A jump of two or more levels keeps the previous parent; a shorter
      // line climbs from the previous parent.
      {"a\na/b/c\na/b/c/d\na/x/y/z\nm\nm/n\nm/n/o\np", "a c(d z) m(n(o)) p",
       "/a /c /c/d /c/z /m /m/n /m/n/o /p"},
      // Repeated names in another case are reused; empty lines skipped.
      {"Net\nNet/a\n\nNET\nnet/B\nnet/b/C\nnEt/A", "Net(a B(C))",
       "/Net /Net/a /Net/B /Net/B/C"},
  };
  for (const auto &c : cases) {
    fake_vornal::reset();
    serve("/", c[0]);
    cli_state.cwd = add({"stale"});
    EXPECT_EQ(build_tree(), 0);
    EXPECT_EQ(shape(cli_state.root), c[1]) << c[0];
    // One listing of the root (never described), then nodes depth first.
    EXPECT_EQ(sent(VORNAL_MSG_LIST), "/");
    EXPECT_EQ(sent(VORNAL_MSG_DESCRIBE), c[2]) << c[0];
  }
  // Short lines never climb above the requested node.
  cli_node *top = add({"top"});
  serve("/top", "q/r/s\nt");
  load_subtree(top);
  EXPECT_EQ(shape(top), "s t");
}

TEST_F(Shell, ReloadReplacesDescendantsAndMovesTheCwd) {
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

TEST_F(Shell, DescriptionLines) {
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
  EXPECT_EQ(take(join_words("|", tz->choices, strlist_count(tz->choices))),
            "UTC|Europe/Oslo|two words");
  EXPECT_STREQ(tz->ops, "gsgsgsgsgsgsgsgsgs");  // too long for the record
  EXPECT_EQ(tz->flags, 0x30u);
  cli_opts.interactive = false;
  EXPECT_EQ(printed([&] { load_node_attributes(tz->next); }),
            "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
}

TEST_F(Shell, CommandsOnAnswersVorndNeverGives) {
  add({"n", "d"})->flags = add({"n", "g"})->flags = NODE_OP_GET | NODE_OP_SET;
  const std::string no_reply = "ERR No reply received.\n";
  std::tuple<const char *, fake_vornal::reply, bool, std::string> cases[] = {
      {"create /n/x", kNoStatus, false, "-12 " + no_reply},
      {"create /n/x", no_handle(), false, "0 "},
      {"set /n d=1", kNoStatus, false, "-12 " + no_reply},
      {"set /n d=1", kNoStatus, true, "0 " + no_reply},
      // A lost request prints its line but leaves the status alone.
      {"set /n d=1", no_handle(), false, "0 Couldn't send.\n"},
      {"get /n g", no_handle(), false, "-12 " + no_reply},
      {"get /n g", no_handle(), true, "0 " + no_reply},
      {"help /n g=", kNoStatus, false,
       "0 No help is available for this path.\n"},
      {"help /n", no_handle(), false, "0 "},
  };
  for (const auto &[line, r, terminal, want] : cases) {
    fake_vornal::reset();
    fake_vornal::set_default(r);
    cli_opts.interactive = terminal;
    cli_state.status = 0;
    EXPECT_EQ(run(line), want) << line;
  }
}

TEST_F(Shell, ABatchNeedsEveryRequestAndAnExactOkToClose) {
  fake_vornal::set_default(status_only("OK"));
  for (const char *status : {"ERR batch rejected", "O", (const char *)0}) {
    fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt,
                    status ? status_only(status) : kNoStatus);
    EXPECT_EQ(run("set /n a=1 b=2"), "0 Set a: OK\nSet b: OK\n");
    EXPECT_FALSE(cli_state.modified);
  }
  size_t before = fake_vornal::requests().size();
  fake_vornal::on(VORNAL_MSG_SET, "/n", no_handle(), "b");
  EXPECT_EQ(run("set /n a=1 b=2 c=3"),
            "0 Set a: OK\nCouldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::requests().size() - before, 3u) << "c is not sent";
}

// The terminal transcripts replay the journal; a branch gone since stops it.
TEST_F(Shell, NoReplayFromABranchThatIsGone) {
  cli_opts.interactive = true;
  fake_vornal::set_default(status_only("OK"));
  cli_state.cwd = add({"a", "b"});
  run("set x=1");
  ASSERT_STREQ(cli_state.journal_branch, "a/b/");
  cli_state.journal_branch[2] = 'z';
  cli_state.cwd = cli_state.root;
  EXPECT_EQ(printed([] { replay_journal(); }),
            "Unable to change to the branch that was current when the tree "
            "was first modified.\n");
  EXPECT_EQ(cli_state.cwd, cli_state.root);
  EXPECT_EQ(fake_vornal::requests().size(), 1u) << "nothing replayed";
}

TEST_F(Shell, AutocommitAtExitNeedsExactlyOk) {
  cli_state.modified = cli_state.autocommit = true;
  for (fake_vornal::reply r : {status_only("OK"), status_only("OK then"),
                               status_only("ok"), kNoStatus, no_handle()}) {
    fake_vornal::on(VORNAL_MSG_COMMIT, std::nullopt, r);
    cli_state.exit_requested = false;
    int refused = -1;
    EXPECT_EQ(printed([&] { refused = cmd_exit(nullptr); }), "");
    EXPECT_EQ(refused, r.status != "OK");
    EXPECT_EQ(cli_state.exit_requested, !refused);
    EXPECT_TRUE(cli_state.modified) << "the end of the loop commits again";
  }
}

}  // namespace
