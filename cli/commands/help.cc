// help, cd and version. The help topic is always built with a literal "/":
// the daemon's help entries are keyed that way whatever the separator.
#include "commands/help.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/handlers.h"
#include "lang/parser.h"
#include "tree/path.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "util/version.h"
#include "vornal.h"

namespace {

const char no_help[] = "No help is available for this path.";

// Returns the topic path of pc: its path (or "/") ending in "/", followed by
// the name of its last parameter word. Null when memory runs out.
char *help_topic(const struct parsed_command *pc) {
  char *topic = cli_strdup(pc->path ? pc->path : "/");
  if (!topic) return nullptr;
  size_t n = strlen(topic);
  if ((n == 0 || topic[n - 1] != '/') && cli_extend(&topic, "/") != 0) {
    cli_free(topic);
    return nullptr;
  }
  const parsed_command_value_pair *last = pc->values;
  while (last && last->next) last = last->next;
  if (last && last->name && cli_extend(&topic, last->name) != 0) {
    cli_free(topic);
    return nullptr;
  }
  return topic;
}

}  // namespace

char *help_text(struct parsed_command *pc) {
  char *topic = help_topic(pc);
  if (!topic) return nullptr;
  vornal_message *msg = vornal_send_message(VORNAL_MSG_HELP, nullptr, topic,
                                            nullptr, nullptr, nullptr);
  cli_free(topic);
  if (!msg) return nullptr;
  char *reply = vornal_get_message_reply(msg);
  char *status = vornal_get_message_response_status(msg);
  vornal_message_free(msg);
  char *result;
  if (status && strcmp(status, "OK") == 0)
    result = reply ? url_decode(reply) : nullptr;
  else
    result = cli_strdup(no_help);
  free(reply);
  free(status);
  return result;
}

int cmd_help(struct parsed_command *pc) {
  char *text = help_text(pc);
  if (text) puts(text);
  cli_free(text);
  return 0;
}

int cmd_cd(struct parsed_command *pc) {
  if (pc->word_count < 2) {
    char *path = path_of_node(cli_state.cwd);
    if (path) puts(path);
    cli_free(path);
    return 0;
  }
  if (pc->target) cli_state.cwd = pc->target;
  return 0;
}

int print_version(struct parsed_command *) {
  print_version();
  return 0;
}
