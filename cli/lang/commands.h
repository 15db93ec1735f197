// The command table, the alias table and the word-kind names, with the
// lookups that the parsers, dispatch and completion read them through.
#pragma once

struct parsed_command;

// Every handler takes the parsed line; dispatch ignores the result.
typedef int (*command_handler)(struct parsed_command *pc);

// Word kinds as bits; a set of kinds is their mask.
constexpr unsigned KIND_COMMAND = 0x01;
constexpr unsigned KIND_OPTION = 0x02;
constexpr unsigned KIND_PATH = 0x04;
constexpr unsigned KIND_NODE = 0x08;
constexpr unsigned KIND_NEW_NAME = 0x10;
constexpr unsigned KIND_PARAMETER = 0x20;
constexpr unsigned KIND_VALUE = 0x40;

// How a command uses one kind of argument word.
enum {
  ARG_NONE = 0,
  ARG_OPTIONAL = 1,
  ARG_REQUIRED = 2,
  ARG_NEW = 3,       // required, names something not there yet
  ARG_EXISTING = 4,  // required, names something that exists
};

struct cli_command {
  const char *name;
  command_handler handler;
  int op;         // bit number of the node operation; 8 is the branch selector
  int path_mode;  // how completion turns nodes into path candidates
  int path_arg;
  int name_arg;
  int param_arg;
  int value_arg;
  int journaled;
  int interactive_only;
};

struct cli_alias {
  const char *alias;
  const char *command;
};

enum { CLI_COMMAND_COUNT = 16, CLI_ALIAS_COUNT = 6, WORD_KIND_COUNT = 7 };

extern const cli_command cli_commands[CLI_COMMAND_COUNT];
extern const cli_alias cli_aliases[CLI_ALIAS_COUNT];
extern const char *const word_kind_names[WORD_KIND_COUNT];

// Returns the row number of a command or alias word (whole word, any case),
// or -1 after reporting: interactively the list of commands, otherwise a
// parse error with status -16.
int lookup_command(const char *word);

// Prints the valid commands and the aliases.
void list_commands(void);

// Returns a string list of copies of the command and alias names that begin
// with prefix (all for null or ""), or null when none; the caller frees it
// with strlist_free.
char **command_words(const char *prefix);

// Returns the row for cmd, or null when cmd is out of range.
const cli_command *command_row(int cmd);

// Returns the row's name, or null when cmd is out of range.
const char *command_name(int cmd);

// Returns 1 shifted left by the row's op; 0 for a negative cmd.
unsigned command_op_mask(int cmd);

// Returns the row's path_mode; 0 for a negative cmd.
int command_path_mode(int cmd);

// Returns 1 when the command runs only in an interactive shell.
int command_interactive_only(int cmd);

// Returns 1 when the command's lines go into the change journal.
int command_journaled(int cmd);
