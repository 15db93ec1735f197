// The command and alias tables row by row, the lookup with its two failure
// behaviours, prefix matching, the grammar and the usage texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/handlers.h"
#include "lang/commands.h"
#include "lang/grammar.h"
#include "lang_parse_test_util.h"
#include "shell/state.h"
#include "util/alloc.h"

namespace {
using lang_test::take_list;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct row {
  const char *name;
  command_handler handler;
  int op, path_mode, path_arg, name_arg, param_arg, value_arg, journaled,
      interactive_only;
  unsigned mask;
  const char *usage;  // null: no usage text
};

const row expected_rows[] = {
    {"cd", cmd_cd, 8, 0, 1, 0, 0, 0, 1, 1, 0x100, "optional path."},
    {"commit", cmd_commit, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, nullptr},
    {"create", cmd_create, 0, 0, 3, 0, 1, 1, 1, 0, 0x01,
     "new path, optional parameter, optional value."},
    {"delete", cmd_delete, 1, -1, 4, 0, 0, 0, 1, 0, 0x02, "existing path."},
    {"exit", cmd_exit, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, nullptr},
    {"exit!", cmd_exit_force, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, nullptr},
    {"get", cmd_get, 4, 1, 1, 0, 2, 0, 0, 0, 0x10, "optional path, parameter."},
    {"help", cmd_help, 2, 0, 1, 0, 1, 0, 0, 0, 0x04,
     "optional path, optional parameter."},
    {"list", cmd_list, 3, 0, 1, 0, 0, 0, 0, 0, 0x08, "optional path."},
    {"listr", cmd_listr, 3, 0, 1, 0, 0, 0, 0, 0, 0x08, "optional path."},
    {"rename", cmd_rename, 6, 0, 4, 3, 0, 0, 1, 0, 0x40,
     "existing path, new node name."},
    {"revert", cmd_revert, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, nullptr},
    {"set", cmd_set, 5, 1, 1, 0, 2, 1, 1, 0, 0x20,
     "optional path, parameter, optional value."},
    {"show", cmd_list, 8, 0, 1, 0, 0, 0, 0, 0, 0x100, "optional path."},
    {"showr", cmd_listr, 8, 0, 1, 0, 0, 0, 0, 0, 0x100, "optional path."},
    {"version", print_version, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, nullptr},
};

// Returns the text as a string ("(null)" for null) and frees it.
std::string take_text(char *text) {
  std::string out = text ? text : "(null)";
  cli_free(text);
  return out;
}

class LangTable : public testing::Test {
 protected:
  void SetUp() override { cli_reset_records(); }
  void TearDown() override { cli_reset_records(); }
};

TEST_F(LangTable, EveryRowEveryColumnAndUsage) {
  static_assert(sizeof expected_rows / sizeof expected_rows[0] ==
                CLI_COMMAND_COUNT);
  for (int i = 0; i < CLI_COMMAND_COUNT; i++) {
    const row &want = expected_rows[i];
    const cli_command &got = cli_commands[i];
    SCOPED_TRACE(want.name);
    EXPECT_STREQ(got.name, want.name);
    EXPECT_EQ(got.handler, want.handler);
    EXPECT_EQ(got.op, want.op);
    EXPECT_EQ(got.path_mode, want.path_mode);
    EXPECT_EQ(got.path_arg, want.path_arg);
    EXPECT_EQ(got.name_arg, want.name_arg);
    EXPECT_EQ(got.param_arg, want.param_arg);
    EXPECT_EQ(got.value_arg, want.value_arg);
    EXPECT_EQ(got.journaled, want.journaled);
    EXPECT_EQ(got.interactive_only, want.interactive_only);
    EXPECT_EQ(command_op_mask(i), want.mask);
    EXPECT_EQ(command_path_mode(i), want.path_mode);
    EXPECT_EQ(command_interactive_only(i), want.interactive_only);
    EXPECT_EQ(command_journaled(i), want.journaled);
    EXPECT_EQ(take_text(command_usage(i)), want.usage ? want.usage : "(null)");
  }
  EXPECT_EQ(command_op_mask(-1), 0u);
  EXPECT_EQ(command_path_mode(-1), 0);
  EXPECT_EQ(command_interactive_only(-1), 0);
  EXPECT_EQ(command_name(CLI_COMMAND_COUNT), nullptr);
}

TEST_F(LangTable, AliasesAndKindNames) {
  const char *pairs[] = {"quit",   "exit",   "quit!", "exit!", "add", "create",
                         "remove", "delete", "ls",    "list",  "bye", "exit"};
  for (int i = 0; i < CLI_ALIAS_COUNT; i++) {
    EXPECT_STREQ(cli_aliases[i].alias, pairs[2 * i]);
    EXPECT_STREQ(cli_aliases[i].command, pairs[2 * i + 1]);
  }
  EXPECT_EQ(take_text(kinds_text(0x7f)),
            "command, option, path, node, new node name, parameter or value");
}

TEST_F(LangTable, LookupIgnoresCaseAndNeverAbbreviates) {
  cli_opts.interactive = false;
  EXPECT_EQ(lookup_command("LS"), 8);
  EXPECT_EQ(lookup_command("Ls"), 8);
  EXPECT_EQ(lookup_command("ls"), 8);
  EXPECT_EQ(lookup_command("QUIT!"), 5);
  EXPECT_EQ(lookup_command("bye"), 4);
  EXPECT_EQ(lookup_command("Remove"), 3);
  EXPECT_EQ(lookup_command("showR"), 14);
  EXPECT_EQ(cli_state.status, 0);
  for (const char *word : {"sh", "lis", "", "exit!!"}) {
    cli_state.status = 0;
    CaptureStdout();
    EXPECT_EQ(lookup_command(word), -1) << word;
    EXPECT_EQ(GetCapturedStdout(), "Parse error: " + std::string(word) +
                                       " is not a valid command.\n");
    EXPECT_EQ(cli_state.status, -16);
  }
}

TEST_F(LangTable, InteractiveLookupFailureListsCommands) {
  cli_state.status = 3;
  CaptureStdout();
  EXPECT_EQ(lookup_command("bogus"), -1);
  EXPECT_EQ(GetCapturedStdout(),
            "Valid commands are:\n"
            "cd\tcommit\tcreate\tdelete\texit\texit!\tget\thelp\tlist\t"
            "listr\trename\trevert\tset\tshow\tshowr\tversion\t\n"
            "quit is an alias for exit.\n"
            "quit! is an alias for exit!.\n"
            "add is an alias for create.\n"
            "remove is an alias for delete.\n"
            "ls is an alias for list.\n"
            "bye is an alias for exit.\n");
  EXPECT_EQ(cli_state.status, 3);
}

TEST_F(LangTable, CommandWordsMatchPrefixesCommandsFirst) {
  using v = std::vector<std::string>;
  EXPECT_EQ(take_list(command_words("e")), (v{"exit", "exit!"}));
  EXPECT_EQ(take_list(command_words("qu")), (v{"quit", "quit!"}));
  EXPECT_EQ(take_list(command_words("S")), (v{"set", "show", "showr"}));
  EXPECT_EQ(take_list(command_words("re")), (v{"rename", "revert", "remove"}));
  EXPECT_TRUE(take_list(command_words("x")).empty());
  v all = take_list(command_words(nullptr));
  ASSERT_EQ(all.size(), 22u);
  EXPECT_EQ(all[0], "cd");
  EXPECT_EQ(all[15], "version");
  EXPECT_EQ(all[16], "quit");
  EXPECT_EQ(all[21], "bye");
  EXPECT_EQ(take_list(command_words("")), all);
}

TEST_F(LangTable, NextWordKinds) {
  const unsigned after_command[CLI_COMMAND_COUNT] = {
      0x06, 0x02, 0x06, 0x06, 0x02, 0x02, 0x26, 0x26,
      0x06, 0x06, 0x06, 0x02, 0x26, 0x06, 0x06, 0x02};
  const unsigned after_path[CLI_COMMAND_COUNT] = {
      0, 0, 0x20, 0, 0, 0, 0x20, 0x20, 0, 0, 0x10, 0, 0x20, 0, 0, 0};
  for (int i = 0; i < CLI_COMMAND_COUNT; i++) {
    SCOPED_TRACE(cli_commands[i].name);
    EXPECT_EQ(next_word_kinds(i, 0), KIND_COMMAND);
    EXPECT_EQ(next_word_kinds(i, KIND_COMMAND), after_command[i]);
    EXPECT_EQ(next_word_kinds(i, KIND_OPTION), after_command[i]);
    EXPECT_EQ(next_word_kinds(i, KIND_PATH), after_path[i]);
    EXPECT_EQ(next_word_kinds(i, KIND_PARAMETER), KIND_PARAMETER);
    EXPECT_EQ(next_word_kinds(i, KIND_VALUE), KIND_PARAMETER);
    EXPECT_EQ(next_word_kinds(i, KIND_NEW_NAME), 0u);
    EXPECT_EQ(next_word_kinds(i, KIND_PATH | KIND_PARAMETER), 0u);
  }
  EXPECT_EQ(next_word_kinds(-1, 0), KIND_COMMAND);
  EXPECT_EQ(next_word_kinds(-1, KIND_COMMAND), 0u);
}

TEST_F(LangTable, KindBeforeAndRequiredChains) {
  // The parser tests run the chains of set, get, rename and create.
  EXPECT_EQ(kind_before(10, KIND_PARAMETER), KIND_NEW_NAME);
  EXPECT_EQ(kind_before(7, 0), KIND_PATH);
  EXPECT_EQ(required_kind_before(3, 0), KIND_PATH);
  EXPECT_EQ(required_kind_before(10, KIND_PATH), 0u);
  for (int cmd : {0, 1, 4, 7, 8, 9, 11, 12, 13, 14, 15})
    EXPECT_EQ(required_kind_before(cmd, 0), 0u) << cli_commands[cmd].name;
}

TEST_F(LangTable, KindsText) {
  // Usage texts cover describe_argument; these are the parser's names.
  EXPECT_EQ(kinds_text(0), nullptr);
  EXPECT_EQ(take_text(kinds_text(0x20)), "parameter");
  EXPECT_EQ(take_text(kinds_text(0x06)), "option or path");
  EXPECT_EQ(take_text(kinds_text(0x16)), "option, path or new node name");
}

TEST_F(LangTable, VersionRowPrintsTheBanner) {
  CaptureStdout();
  EXPECT_EQ(cli_commands[15].handler(nullptr), 0);
  EXPECT_EQ(GetCapturedStdout(), "Velmar CLI 3.0 (2013-04-12T14:54-0700)\n");
}
}  // namespace
