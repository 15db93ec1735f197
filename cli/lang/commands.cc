#include "lang/commands.h"

#include <readline/readline.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"

const cli_alias cli_aliases[CLI_ALIAS_COUNT] = {
    {.alias = "quit", .command = "exit"},
    {.alias = "quit!", .command = "exit!"},
    {.alias = "add", .command = "create"},
    {.alias = "remove", .command = "delete"},
    {.alias = "ls", .command = "list"},
    {.alias = "bye", .command = "exit"},
};

// In bit order: entry i names the kind 1 << i.
const char *const word_kind_names[WORD_KIND_COUNT] = {
    "command", "option", "path", "node", "new node name", "parameter", "value",
};

int lookup_command(const char *word) {
  const char *name = word;
  for (const cli_alias &a : cli_aliases) {
    if (strcasecmp(name, a.alias) == 0) {
      name = a.command;
      break;
    }
  }
  for (int i = 0; i < CLI_COMMAND_COUNT; i++)
    if (strcasecmp(name, cli_commands[i].name) == 0) return i;
  if (cli_opts.interactive) {
    list_commands();
    rl_on_new_line();
  } else {
    printf("Parse error: %s is not a valid command.\n", word);
    cli_state.status = -16;
  }
  return -1;
}

void list_commands(void) {
  puts("Valid commands are:");
  for (const cli_command &c : cli_commands) printf("%s\t", c.name);
  printf("\n");
  for (const cli_alias &a : cli_aliases)
    printf("%s is an alias for %s.\n", a.alias, a.command);
}

namespace {
// Appends a copy of name to *list when it begins with prefix; returns 0, or
// 1 when memory runs out.
int add_if_prefixed(char ***list, const char *name, const char *prefix) {
  if (prefix && strncasecmp(name, prefix, strlen(prefix)) != 0) return 0;
  char *copy = cli_strdup(name);
  if (!copy) return 1;
  if (strlist_append(list, copy) != 0) {
    cli_free(copy);
    return 1;
  }
  return 0;
}
}  // namespace

char **command_words(const char *prefix) {
  char **list = nullptr;
  for (const cli_command &c : cli_commands)
    if (add_if_prefixed(&list, c.name, prefix)) return list;
  for (const cli_alias &a : cli_aliases)
    if (add_if_prefixed(&list, a.alias, prefix)) return list;
  return list;
}

const cli_command *command_row(int cmd) {
  if (cmd < 0 || cmd >= CLI_COMMAND_COUNT) return nullptr;
  return &cli_commands[cmd];
}

const char *command_name(int cmd) {
  const cli_command *row = command_row(cmd);
  return row ? row->name : nullptr;
}

unsigned command_op_mask(int cmd) {
  const cli_command *row = command_row(cmd);
  return row ? 1u << row->op : 0;
}

int command_path_mode(int cmd) {
  const cli_command *row = command_row(cmd);
  return row ? row->path_mode : 0;
}

int command_interactive_only(int cmd) {
  const cli_command *row = command_row(cmd);
  return row ? row->interactive_only : 0;
}

int command_journaled(int cmd) {
  const cli_command *row = command_row(cmd);
  return row ? row->journaled : 0;
}
