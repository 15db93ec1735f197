// The non-interactive parser: words marked by form, unmarked words placed
// from the right, required words checked, statuses for a script.
#include "lang_parse_test_util.h"

namespace {
using lang_test::pairs_of;
using lang_test::parse;
using lang_test::parse_result;
using lang_test::text;
using strings = std::vector<std::string>;

class LangBatch : public testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    cli_opts.interactive = false;
  }
  void TearDown() override { cli_reset_records(); }
};

TEST_F(LangBatch, RenameKeepsMarkedPathAndNamesTheOther) {
  parse_result plain;
  parse(plain, "rename a b");
  ASSERT_NE(plain.pc, nullptr);
  EXPECT_EQ(plain.pc->command, 10);
  EXPECT_EQ(text(plain.pc->path), "a");
  EXPECT_EQ(text(plain.pc->new_name), "b");

  parse_result swapped;
  parse(swapped, "rename a /b");
  ASSERT_NE(swapped.pc, nullptr);
  EXPECT_EQ(text(swapped.pc->path), "/b");
  EXPECT_EQ(text(swapped.pc->new_name), "a");

  parse_result missing;
  parse(missing, "rename ./a");
  EXPECT_EQ(missing.pc, nullptr);
  EXPECT_EQ(missing.out,
            "Parse error: rename takes the following parameters: existing "
            "path, new node name.\n");
  EXPECT_EQ(cli_state.status, -17);
}

TEST_F(LangBatch, GetPlacesPathBeforeParameter) {
  parse_result two;
  parse(two, "get a b");
  ASSERT_NE(two.pc, nullptr);
  EXPECT_EQ(text(two.pc->path), "a");
  EXPECT_EQ(pairs_of(two.pc), strings{"b"});
  EXPECT_EQ(two.pc->values->value, nullptr);

  parse_result one;
  parse(one, "get b");
  ASSERT_NE(one.pc, nullptr);
  EXPECT_EQ(one.pc->path, nullptr);
  EXPECT_EQ(pairs_of(one.pc), strings{"b"});
  EXPECT_EQ(cli_state.status, 0);

  parse_result none;
  parse(none, "get");
  EXPECT_EQ(none.pc, nullptr);
  EXPECT_EQ(none.out,
            "Parse error: get takes the following parameters: optional "
            "path, parameter.\n");
  EXPECT_EQ(cli_state.status, -17);
}

TEST_F(LangBatch, SetNeedsValueWordsAfterItsPath) {
  parse_result bad;
  parse(bad, "set a b");
  EXPECT_EQ(bad.pc, nullptr);
  EXPECT_EQ(bad.out,
            "Parse error: Unable to successfully parse the command.\n");
  EXPECT_EQ(cli_state.status, -17);

  cli_state.status = 0;
  parse_result good;
  parse(good, "set a x=1 y=2 z= w=a=b");
  ASSERT_NE(good.pc, nullptr);
  EXPECT_EQ(good.pc->command, 12);
  EXPECT_EQ(text(good.pc->path), "a");
  EXPECT_EQ(pairs_of(good.pc), (strings{"x=1", "y=2", "z=", "w=a=b"}));
  EXPECT_EQ(cli_state.status, 0);
  EXPECT_EQ(good.out, "");
}

TEST_F(LangBatch, OptionsAndEarlierUnmarkedWordsAreIgnored) {
  parse_result r;
  parse(r, "list a -l b");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_EQ(r.pc->command, 8);
  EXPECT_EQ(text(r.pc->path), "b");
  EXPECT_EQ(r.pc->values, nullptr);
  EXPECT_EQ(r.pc->target, nullptr);
  EXPECT_EQ(r.pc->path_node, nullptr);
  EXPECT_EQ(r.pc->expected, 0u);

  // A later path replaces an earlier one.
  parse_result paths;
  parse(paths, "show /x ./y");
  ASSERT_NE(paths.pc, nullptr);
  EXPECT_EQ(text(paths.pc->path), "./y");
}

TEST_F(LangBatch, AliasFindsCommandAndMessagesUseTheTypedWord) {
  parse_result r;
  parse(r, "add");
  EXPECT_EQ(r.pc, nullptr);
  EXPECT_EQ(r.out,
            "Parse error: add takes the following parameters: new path, "
            "optional parameter, optional value.\n");

  parse_result ok;
  parse(ok, "ADD x a=1");
  ASSERT_NE(ok.pc, nullptr);
  EXPECT_EQ(ok.pc->command, 2);
  EXPECT_EQ(text(ok.pc->path), "x");
  EXPECT_EQ(pairs_of(ok.pc), strings{"a=1"});

  parse_result del;
  parse(del, "remove");
  EXPECT_EQ(del.out,
            "Parse error: remove takes the following parameters: existing "
            "path.\n");
}

TEST_F(LangBatch, UnknownCommandAndCommandsWithoutArguments) {
  parse_result r;
  parse(r, "frobnicate a b");
  EXPECT_EQ(r.pc, nullptr);
  EXPECT_EQ(r.out, "Parse error: frobnicate is not a valid command.\n");
  EXPECT_EQ(cli_state.status, -16);

  cli_state.status = 0;
  parse_result extra;
  parse(extra, "version now");
  EXPECT_EQ(extra.pc, nullptr);
  EXPECT_EQ(extra.out,
            "Parse error: Unable to successfully parse the command.\n");
  EXPECT_EQ(cli_state.status, -17);

  // Interactive-only commands stop before their words are looked at; the
  // dispatcher refuses them.
  cli_state.status = 0;
  parse_result quit;
  parse(quit, "quit now please");
  ASSERT_NE(quit.pc, nullptr);
  EXPECT_EQ(quit.pc->command, 4);
  EXPECT_EQ(quit.out, "");
  EXPECT_EQ(cli_state.status, 0);
}

TEST_F(LangBatch, EmptyLinesAndPartialWords) {
  for (const char *line : {"", "    "}) {
    parse_result r;
    parse(r, line);
    ASSERT_NE(r.pc, nullptr);
    EXPECT_EQ(r.pc->command, -1);
    EXPECT_EQ(r.pc->expected, KIND_COMMAND);
    EXPECT_EQ(r.pc->word_count, 0);
    EXPECT_EQ(r.pc->partial, nullptr);
  }
  parse_result spaced;
  parse(spaced, "get  a ");
  ASSERT_NE(spaced.pc, nullptr);
  EXPECT_EQ(spaced.pc->partial, nullptr);
  EXPECT_EQ(spaced.pc->word_count, 2);

  // Completing leaves the unfinished word out of the parse: get alone
  // then lacks its parameter.
  parse_result completing;
  parse(completing, "get \"a b\"", 1);
  EXPECT_EQ(completing.pc, nullptr);

  parse_result kept;
  parse(kept, "set x=\"a b\"");
  ASSERT_NE(kept.pc, nullptr);
  EXPECT_EQ(text(kept.pc->partial), "x=\"a b\"");
  EXPECT_EQ(kept.pc->word_count, 2);
  EXPECT_EQ(pairs_of(kept.pc), strings{"x=\"a b\""});
}

TEST_F(LangBatch, ParsedCommandIsOneTallocHierarchy) {
  parse_result r;
  parse(r, "set /a b\\ c=1 d=2");
  ASSERT_NE(r.pc, nullptr);
  EXPECT_STREQ(talloc_get_name(r.pc), "struct parsed_command");
  EXPECT_EQ(talloc_parent(r.pc), nullptr);
  ASSERT_NE(r.pc->values, nullptr);
  EXPECT_STREQ(talloc_get_name(r.pc->values),
               "struct parsed_command_value_pair");
  EXPECT_EQ(talloc_parent(r.pc->values), r.pc);
  EXPECT_EQ(talloc_parent(r.pc->values->name), r.pc);
  EXPECT_EQ(talloc_parent(r.pc->values->value), r.pc);
  EXPECT_EQ(talloc_parent(r.pc->path), r.pc);
  EXPECT_EQ(pairs_of(r.pc), (strings{"b\\ c=1", "d=2"}));
}
}  // namespace
