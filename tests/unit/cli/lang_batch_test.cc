// The non-interactive parser: words marked by form, the last unmarked run
// placed from the right, required words checked, statuses for a script.
#include "lang_parse_test_util.h"

namespace {
using lang_test::summary;

class LangBatch : public testing::Test {
 protected:
  void SetUp() override {
    cli_reset_records();
    cli_opts.interactive = false;
  }
  void TearDown() override { cli_reset_records(); }
};

TEST_F(LangBatch, Lines) {
  const lang_test::line_case cases[] = {
      // The marked word keeps its kind, the unmarked one is the new name.
      {"rename a b", "rename path=a new=b partial=b"},
      {"rename a /b ", "rename path=/b new=a"},
      {"rename ./a ",
       "refused status=-17 || Parse error: rename takes the following "
       "parameters: existing path, new node name.\n"},
      {"get a b ", "get path=a values=b"},
      {"get b ", "get values=b"},
      {"get ",
       "refused status=-17 || Parse error: get takes the following "
       "parameters: optional path, parameter.\n"},
      // b would be a path, and nothing may stand before a path.
      {"set a b ",
       "refused status=-17 || Parse error: Unable to successfully parse the "
       "command.\n"},
      {"set a x=1 y=2 z= w=a=b ", "set path=a values=x=1|y=2|z=|w=a=b"},
      {"set x=\"a b\"", "set values=x=\"a b\" partial=x=\"a b\""},
      {"list a -l b ", "list path=b"},
      {"show /x ./y ", "show path=./y"},
      {"ADD x a=1 ", "create path=x values=a=1"},
      {"add ",
       "refused status=-17 || Parse error: add takes the following "
       "parameters: new path, optional parameter, optional value.\n"},
      {"frobnicate a ",
       "refused status=-16 || Parse error: frobnicate is not a valid "
       "command.\n"},
      {"version now ",
       "refused status=-17 || Parse error: Unable to successfully parse the "
       "command.\n"},
      // Interactive-only: the dispatcher refuses it; its words are not read.
      {"quit now please ", "exit"},
      {"", "-1 expected=1"},
      {"    ", "-1 expected=1"},
  };
  for (const auto &c : cases) {
    cli_state.status = 0;
    EXPECT_EQ(summary(c.line), c.want) << c.line;
  }
}

TEST_F(LangBatch, CompletingLeavesTheLastWordOut) {
  EXPECT_EQ(summary("list a", 1), "list partial=a");
  // get alone lacks its parameter.
  EXPECT_EQ(summary("get \"a b\"", 1).rfind("refused status=-17", 0), 0u);
}

TEST_F(LangBatch, ParsedCommandIsOneTallocHierarchy) {
  parsed_command *pc = parse_command_line("set /a b\\ c=1 d=2 x", 0);
  ASSERT_NE(pc, nullptr);
  EXPECT_EQ(pc->word_count, 5);
  EXPECT_STREQ(talloc_get_name(pc), "struct parsed_command");
  EXPECT_EQ(talloc_parent(pc), nullptr);
  ASSERT_NE(pc->values, nullptr);
  EXPECT_STREQ(talloc_get_name(pc->values), "struct parsed_command_value_pair");
  EXPECT_STREQ(pc->values->name, "b\\ c");
  for (const void *p :
       {(const void *)pc->values, (const void *)pc->path,
        (const void *)pc->partial, (const void *)pc->values->name,
        (const void *)pc->values->value})
    EXPECT_EQ(talloc_parent(p), pc);
  free_parsed_command(pc);
}
}  // namespace
