// The command handlers named by the command table. Each takes the parsed
// line (owned by the caller) and returns an int that dispatch ignores.
#pragma once

struct parsed_command;

int cmd_cd(struct parsed_command *pc);
int cmd_commit(struct parsed_command *pc);
int cmd_create(struct parsed_command *pc);
int cmd_delete(struct parsed_command *pc);
int cmd_exit(struct parsed_command *pc);
int cmd_exit_force(struct parsed_command *pc);
int cmd_get(struct parsed_command *pc);
int cmd_help(struct parsed_command *pc);
// list and show: the outline of one node and its children.
int cmd_list(struct parsed_command *pc);
// listr and showr: the outline of a whole subtree.
int cmd_listr(struct parsed_command *pc);
int cmd_rename(struct parsed_command *pc);
int cmd_revert(struct parsed_command *pc);
int cmd_set(struct parsed_command *pc);
// The version row's handler: the banner of -V (shell/options.h); returns 0.
int print_version(struct parsed_command *pc);
