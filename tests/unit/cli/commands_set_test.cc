// get and set against the library stand-in: the exact messages, their
// order, the printed lines, the exit statuses and the modified flag.
#include <string>
#include <vector>

#include "commands/handlers.h"
#include "commands/set.h"
#include "lang/parser.h"
#include "tree_test_util.h"
#include "vornal.h"

namespace {

using fake_vornal::answer;
using fake_vornal::no_handle;
using fake_vornal::status_only;
using strings = std::vector<std::string>;

const char eth0[] = "/net/eth0";
const char open_batch[] = "50(\"\",\"\",\"\",\"\",\"\")";
const char close_batch[] = "51(\"\",\"\",\"\",\"\",\"\")";

// Returns a parsed command for path with one pair per word, split at the
// first "=" as the parser does; the caller releases it with talloc_free.
parsed_command *command(const char *path,
                        std::initializer_list<const char *> words) {
  parsed_command *pc = talloc_zero(nullptr, struct parsed_command);
  pc->command = -1;
  pc->path = talloc_strdup(pc, path);
  parsed_command_value_pair **tail = &pc->values;
  for (std::string word : words) {
    *tail = talloc_zero(pc, struct parsed_command_value_pair);
    size_t eq = word.find('=');
    (*tail)->name = talloc_strdup(pc, word.substr(0, eq).c_str());
    if (eq != std::string::npos)
      (*tail)->value = talloc_strdup(pc, word.substr(eq + 1).c_str());
    tail = &(*tail)->next;
  }
  return pc;
}

// The text of a set request for name with value (null: NULL) at eth0.
std::string set_request(const char *name, const char *value) {
  std::string v = value ? "\"" + std::string(value) + "\"" : "NULL";
  return "11(NULL,\"/net/eth0\",NULL,\"" + std::string(name) + "\"," + v + ")";
}

class SetTest : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    fake_vornal::set_default(status_only("OK"));
  }
  // Runs cmd_set on a command for eth0 and returns what it printed; its
  // result goes to result.
  std::string set(std::initializer_list<const char *> words) {
    parsed_command *pc = command(eth0, words);
    std::string out = printed([&] { result = cmd_set(pc); });
    for (parsed_command_value_pair *p = pc->values; p; p = p->next) {
      EXPECT_EQ(p->request, nullptr);
      EXPECT_EQ(p->status_text, nullptr);
    }
    talloc_free(pc);
    return out;
  }
  void answer_set(const char *name, fake_vornal::reply r) {
    fake_vornal::on(VORNAL_MSG_SET, eth0, name, r);
  }
  int result = -1;
};

TEST_F(SetTest, SingleParameterSendsNoBatchMarkers) {
  EXPECT_EQ(set({"mtu=1400"}), "Set mtu: OK\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(fake_vornal::request_texts(), strings{set_request("mtu", "1400")});
  EXPECT_TRUE(cli_state.modified);
}

TEST_F(SetTest, ThreeParametersFormOneBatchAndReplyInWordOrder) {
  answer_set("b", status_only("ERR Permission denied"));
  EXPECT_EQ(set({"c=3", "b=2", "a=1"}),
            "Set c: OK\nSet b: ERR Permission denied\nSet a: OK\n");
  strings want = {open_batch, set_request("c", "3"), set_request("b", "2"),
                  set_request("a", "1"), close_batch};
  EXPECT_EQ(fake_vornal::request_texts(), want);
  EXPECT_NE(result, 0);
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(SetTest, RefusedBatchCloseStillPrintsEveryPairButFails) {
  fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt,
                  status_only("ERR batch rejected"));
  EXPECT_EQ(set({"a=1", "b=2"}), "Set a: OK\nSet b: OK\n");
  EXPECT_NE(result, 0);
  EXPECT_FALSE(cli_state.modified);
  // A close without a status, or with a near miss of "OK", fails alike.
  fake_vornal::reset();
  fake_vornal::set_default(status_only("OK"));
  fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt, status_only("O"));
  set({"a=1", "b=2"});
  EXPECT_NE(result, 0);
  fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt,
                  status_only(std::nullopt));
  set({"a=1", "b=2"});
  EXPECT_NE(result, 0);
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(SetTest, ValuesAreDequotedAndABareNameSendsNull) {
  set({"name=\"a b\"", "x=say\\\"hi\\\"", "mtu", "e=", "f=a=b"});
  const std::vector<fake_vornal::request> &sent = fake_vornal::requests();
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[1].args[4], "a b");
  EXPECT_EQ(sent[2].args[4], "say\"hi\"");
  EXPECT_EQ(sent[3].args[3], "mtu");
  EXPECT_EQ(sent[3].args[4], std::nullopt);
  EXPECT_EQ(sent[4].args[4], "");
  EXPECT_EQ(sent[5].args[4], "a=b");
}

TEST_F(SetTest, SendingStopsAtTheFirstLostRequest) {
  answer_set("b", no_handle());
  EXPECT_EQ(set({"a=1", "b=2", "c=3"}),
            "Set a: OK\nCouldn't send.\nCouldn't send.\n");
  strings want = {open_batch, set_request("a", "1"), set_request("b", "2")};
  EXPECT_EQ(fake_vornal::request_texts(), want);
  EXPECT_NE(result, 0);
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(SetTest, LostBatchOpeningSendsNothingElse) {
  fake_vornal::on(VORNAL_MSG_BATCH_OPEN, std::nullopt, no_handle());
  EXPECT_EQ(set({"a=1", "b=2"}), "Couldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts(), strings{open_batch});
  EXPECT_NE(result, 0);
}

TEST_F(SetTest, ScriptStatusesFollowTheLastFailure) {
  cli_opts.interactive = false;
  answer_set("b", status_only("ERR sanity check failed"));
  set({"a=1", "b=x", "c=3"});
  EXPECT_EQ(cli_state.status, -19);
  answer_set("a", status_only("ERR No such file or directory"));
  EXPECT_EQ(set({"a=1"}), "Set a: ERR No such file or directory\n");
  EXPECT_EQ(cli_state.status, -10);
  answer_set("d", status_only(std::nullopt));
  EXPECT_EQ(set({"d=1"}), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  // A lost request prints its line but leaves the status alone.
  answer_set("e", no_handle());
  EXPECT_EQ(set({"e=1"}), "Couldn't send.\n");
  EXPECT_EQ(cli_state.status, -12);
  EXPECT_FALSE(cli_state.modified);
  // On a terminal the same failures leave the status alone.
  cli_opts.interactive = true;
  cli_state.status = 0;
  set({"b=x", "d=1"});
  EXPECT_EQ(cli_state.status, 0);
}

TEST_F(SetTest, EachAcceptedPairRefreshesSideEffectsOnATerminal) {
  add({"param", "side-effect", "net", "eth0"});
  answer_set("b", status_only("ERR sanity check failed"));
  const char entry[] = "/param/side-effect/net/eth0";
  fake_vornal::on(VORNAL_MSG_GET, entry,
                  status_only("ERR No such file or directory"));
  cli_opts.interactive = true;
  set({"a=1", "b=2", "c=3"});
  // Two accepted pairs, each refreshing all three names, after the batch.
  strings gets = fake_vornal::request_texts(VORNAL_MSG_GET);
  EXPECT_EQ(gets.size(), 6u);
  EXPECT_EQ(fake_vornal::request_texts().at(5),
            "15(NULL,\"/param/side-effect/net/eth0\",NULL,\"a\",NULL)");
  fake_vornal::clear_requests();
  cli_opts.interactive = false;
  set({"a=1"});
  EXPECT_TRUE(fake_vornal::request_texts(VORNAL_MSG_GET).empty());
}

TEST_F(SetTest, NoPairsSendNothingAndCountAsAChange) {
  EXPECT_EQ(set({}), "");
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(fake_vornal::requests().empty());
  EXPECT_TRUE(cli_state.modified);
}

TEST_F(SetTest, AfterCreateActsOnTheCreatedNode) {
  cli_node *made = add({"net", "eth9"});
  parsed_command *pc = command(eth0, {"a=1"});
  pc->created = made;
  printed([&] { result = set_after_create(pc); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(pc->create_done, 1);
  EXPECT_EQ(pc->path_node, made);
  EXPECT_EQ(pc->created, made);
  talloc_free(pc);
}

class GetTest : public SetTest {
 protected:
  std::string get(std::initializer_list<const char *> words) {
    parsed_command *pc = command(eth0, words);
    std::string out = printed([&] { result = cmd_get(pc); });
    talloc_free(pc);
    return out;
  }
};

TEST_F(GetTest, PrintsEachValueOrTheDaemonsErrorInOrder) {
  cli_opts.interactive = false;
  fake_vornal::on(VORNAL_MSG_GET, eth0, "mtu", answer("1500"));
  fake_vornal::on(VORNAL_MSG_GET, eth0, "nope",
                  status_only("ERR No such file or directory"));
  EXPECT_EQ(get({"nope", "mtu"}),
            "Get nope: ERR No such file or directory\nGet mtu: 1500\n");
  strings want = {"15(NULL,\"/net/eth0\",NULL,\"nope\",NULL)",
                  "15(NULL,\"/net/eth0\",NULL,\"mtu\",NULL)"};
  EXPECT_EQ(fake_vornal::request_texts(), want);
  EXPECT_EQ(cli_state.status, -10);
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(GetTest, MissingReplyAndMissingNameAreReported) {
  cli_opts.interactive = false;
  fake_vornal::on(VORNAL_MSG_GET, eth0, "mtu", no_handle());
  EXPECT_EQ(get({"mtu"}), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  EXPECT_EQ(get({}), "Parse error: get requires a parameter name.\n");
  EXPECT_EQ(cli_state.status, -17);
  EXPECT_EQ(fake_vornal::requests().size(), 1u);
  cli_opts.interactive = true;
  cli_state.status = 0;
  get({"mtu"});
  get({});
  EXPECT_EQ(cli_state.status, 0);
}

}  // namespace
