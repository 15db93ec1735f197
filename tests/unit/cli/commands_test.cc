// get, set and help against the library stand-in: the exact requests and
// their order, what is printed for each answer, the statuses and the
// modified flag. The transcripts show the same commands against vornd, with
// the statuses of refused values.
#include "commands/handlers.h"
#include "commands/help.h"
#include "commands/set.h"
#include "lang/parser.h"
#include "test_util.h"

namespace {

const char eth0[] = "/net/eth0";
const char open_batch[] = "50(\"\",\"\",\"\",\"\",\"\")";
const char close_batch[] = "51(\"\",\"\",\"\",\"\",\"\")";

// The text of a set request for name with value (null: NULL) at eth0.
std::string set_request(const char *name, const char *value) {
  std::string v = value ? "\"" + std::string(value) + "\"" : "NULL";
  return "11(NULL,\"/net/eth0\",NULL,\"" + std::string(name) + "\"," + v + ")";
}

class Commands : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    fake_vornal::set_default(status_only("OK"));
  }
  // Runs handler on a command for eth0 with one pair per word; returns what
  // it printed.
  std::string run(int (*handler)(parsed_command *),
                  std::initializer_list<const char *> words) {
    parsed_command *pc = make_command(eth0, words);
    std::string out = printed([&] { result = handler(pc); });
    for (parsed_command_value_pair *p = pc->values; p; p = p->next)
      EXPECT_TRUE(!p->request && !p->status_text) << "left behind";
    talloc_free(pc);
    return out;
  }
  std::string set(std::initializer_list<const char *> words) {
    return run(cmd_set, words);
  }
  void answer_set(const char *name, fake_vornal::reply r) {
    fake_vornal::on(VORNAL_MSG_SET, eth0, name, r);
  }
  int result = -1;
};

TEST_F(Commands, OneParameterSendsNoBatchAndNoneSendsNothing) {
  EXPECT_EQ(set({"mtu=1400"}), "Set mtu: OK\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(fake_vornal::request_texts(), strings{set_request("mtu", "1400")});
  EXPECT_TRUE(cli_state.modified);
  fake_vornal::clear_requests();
  cli_state.modified = false;
  EXPECT_EQ(set({}), "");
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(fake_vornal::requests().empty());
  EXPECT_TRUE(cli_state.modified);  // no pairs still count as a change
}

TEST_F(Commands, SeveralParametersFormOneBatchAnsweredInWordOrder) {
  answer_set("b", status_only("ERR Permission denied"));
  EXPECT_EQ(set({"c=3", "b=2", "a=1"}),
            "Set c: OK\nSet b: ERR Permission denied\nSet a: OK\n");
  EXPECT_EQ(fake_vornal::request_texts(),
            (strings{open_batch, set_request("c", "3"), set_request("b", "2"),
                     set_request("a", "1"), close_batch}));
  EXPECT_NE(result, 0);
  EXPECT_FALSE(cli_state.modified);
  // Values are dequoted; a bare name sends NULL.
  fake_vornal::clear_requests();
  set({"name=\"a b\"", "x=say\\\"hi\\\"", "mtu", "e=", "f=a=b"});
  EXPECT_EQ(
      fake_vornal::request_texts(),
      (strings{open_batch, set_request("name", "a b"),
               set_request("x", "say\"hi\""), set_request("mtu", nullptr),
               set_request("e", ""), set_request("f", "a=b"), close_batch}));
}

TEST_F(Commands, BatchCloseMustSayExactlyOk) {
  for (fake_vornal::text status :
       {fake_vornal::text("ERR batch rejected"), fake_vornal::text("O"),
        fake_vornal::text()}) {
    fake_vornal::on(VORNAL_MSG_BATCH_CLOSE, std::nullopt, status_only(status),
                    1);
    EXPECT_EQ(set({"a=1", "b=2"}), "Set a: OK\nSet b: OK\n");
    EXPECT_NE(result, 0) << status.value_or("NULL");
    EXPECT_FALSE(cli_state.modified);
  }
}

TEST_F(Commands, SendingStopsAtTheFirstLostRequest) {
  answer_set("b", no_handle());
  EXPECT_EQ(set({"a=1", "b=2", "c=3"}),
            "Set a: OK\nCouldn't send.\nCouldn't send.\n");
  EXPECT_EQ(
      fake_vornal::request_texts(),
      (strings{open_batch, set_request("a", "1"), set_request("b", "2")}));
  EXPECT_NE(result, 0);
  fake_vornal::clear_requests();
  fake_vornal::on(VORNAL_MSG_BATCH_OPEN, std::nullopt, no_handle());
  EXPECT_EQ(set({"a=1", "b=2"}), "Couldn't send.\nCouldn't send.\n");
  EXPECT_EQ(fake_vornal::request_texts(), strings{open_batch});
  EXPECT_FALSE(cli_state.modified);
}

TEST_F(Commands, ScriptStatusesFollowTheLastFailure) {
  cli_opts.interactive = false;
  answer_set("b", status_only("ERR sanity check failed"));
  answer_set("d", status_only(std::nullopt));
  EXPECT_EQ(set({"d=1"}), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  // A lost request prints its line but leaves the status alone.
  answer_set("e", no_handle());
  EXPECT_EQ(set({"e=1"}), "Couldn't send.\n");
  EXPECT_EQ(cli_state.status, -12);
  // On a terminal the same failures leave the status alone.
  cli_opts.interactive = true;
  cli_state.status = 0;
  set({"b=x", "d=1"});
  EXPECT_EQ(cli_state.status, 0);
}

TEST_F(Commands, EachAcceptedPairRefreshesSideEffectsOnATerminal) {
  add({"param", "side-effect", "net", "eth0"});
  answer_set("b", status_only("ERR sanity check failed"));
  fake_vornal::on(VORNAL_MSG_GET, "/param/side-effect/net/eth0",
                  status_only("ERR No such file or directory"));
  set({"a=1", "b=2", "c=3"});
  // Two accepted pairs, each refreshing all three names, after the batch.
  EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_GET).size(), 6u);
  EXPECT_EQ(fake_vornal::request_texts().at(5),
            "15(NULL,\"/param/side-effect/net/eth0\",NULL,\"a\",NULL)");
  fake_vornal::clear_requests();
  cli_opts.interactive = false;
  set({"a=1"});
  EXPECT_TRUE(fake_vornal::request_texts(VORNAL_MSG_GET).empty());
}

TEST_F(Commands, GetWithoutAReplyOrAName) {
  cli_opts.interactive = false;
  fake_vornal::on(VORNAL_MSG_GET, eth0, "lost", no_handle());
  EXPECT_EQ(run(cmd_get, {"lost"}), "ERR No reply received.\n");
  EXPECT_EQ(cli_state.status, -12);
  EXPECT_EQ(run(cmd_get, {}), "Parse error: get requires a parameter name.\n");
  EXPECT_EQ(cli_state.status, -17);
  cli_opts.interactive = true;
  cli_state.status = 0;
  run(cmd_get, {"lost"});
  run(cmd_get, {});
  EXPECT_EQ(cli_state.status, 0);
  EXPECT_FALSE(cli_state.modified);
}

class Help : public TreeTest {
 protected:
  void SetUp() override {
    TreeTest::SetUp();
    cli_opts.interactive = true;
    add({"net", "eth0"})->parent->flags = 0x0F;
    add({"net", "mtu"})->flags = 0x30;
    add({"net", "wol"})->flags = 0x30;
    fake_vornal::set_default(answer("Some+help%2E"));
  }
  // Parses line, runs help and returns the printed text and the topic of
  // the only request it sent, as "text|topic".
  std::string help(const char *line) {
    fake_vornal::clear_requests();
    parsed_command *pc = parse_command_line(line, 0);
    EXPECT_NE(pc, nullptr) << line;
    std::string out = printed([&] { cmd_help(pc); });
    free_parsed_command(pc);
    const std::vector<fake_vornal::request> &sent = fake_vornal::requests();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(fake_vornal::request_texts(VORNAL_MSG_HELP).size(), 1u);
    EXPECT_FALSE(sent[0].args[0] || sent[0].args[2] || sent[0].args[3] ||
                 sent[0].args[4]);
    return out + "|" + sent[0].args[1].value_or("<null>");
  }
};

TEST_F(Help, TopicIsThePathWithASlashOrTheLastParameter) {
  EXPECT_EQ(help("help"), "Some help.\n|/");
  cli_state.cwd = add({"net"});
  EXPECT_EQ(help("help"), "Some help.\n|/net/");
  EXPECT_EQ(help("help mtu wol"), "Some help.\n|/net/wol");
  EXPECT_EQ(help("help eth0"), "Some help.\n|/net/eth0/");
  EXPECT_EQ(help("help /net/eth0"), "Some help.\n|/net/eth0/");
  cli_opts.interactive = false;
  EXPECT_EQ(help("help"), "Some help.\n|/");  // a script has no cwd
}

TEST_F(Help, RefusedUnansweredAndLostRequests) {
  fake_vornal::on(VORNAL_MSG_HELP, "/net/mtu", status_only("ERR nope"));
  fake_vornal::on(VORNAL_MSG_HELP, "/net/wol", status_only(std::nullopt));
  fake_vornal::on(VORNAL_MSG_HELP, "/net/eth0/", no_handle());
  fake_vornal::on(VORNAL_MSG_HELP, "/", status_only("OK"));
  const std::string na = "No help is available for this path.\n";
  EXPECT_EQ(help("help /net mtu"), na + "|/net/mtu");
  EXPECT_EQ(help("help /net wol"), na + "|/net/wol");
  EXPECT_EQ(help("help /net/eth0"), "|/net/eth0/");
  EXPECT_EQ(help("help /"), "|/");  // "OK" without a text shows nothing
  fake_vornal::on(VORNAL_MSG_HELP, "/net/",
                  answer("MTU+in+bytes%2C+1280%2E%2E9000"));
  parsed_command *pc = parse_command_line("help net", 0);
  EXPECT_EQ(take(help_text(pc)), "MTU in bytes, 1280..9000");
  free_parsed_command(pc);
}

}  // namespace
