// help, cd and version: the daemon's help texts and the current node.
#pragma once

struct parsed_command;

// Returns the decoded help text for the command's path (and its last
// parameter word), the not-available text when the daemon refuses, or null
// when nothing came back or memory ran out. Release with cli_free.
char *help_text(struct parsed_command *pc);
