// get and set. A set of several parameters is one batch (50, the 11s, 51)
// that the daemon applies all or nothing; every request goes out before the
// first status is read, so a batch costs one round trip per message but no
// waiting in between. When sending stops early, each pair left without a
// request prints "Couldn't send." once, and the shell never waits for it.
#include "commands/set.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/handlers.h"
#include "commands/side_effects.h"
#include "lang/parser.h"
#include "tree/get_value.h"
#include "util/alloc.h"
#include "util/state.h"
#include "util/text.h"
#include "vornal.h"

namespace {

const char no_entry[] = "ERR No such file or directory";

// Sets the exit status when the shell runs a script.
void fail_status(int code) {
  if (!cli_opts.interactive) cli_state.status = code;
}

// Returns the number of pairs of pc.
int pair_count(const struct parsed_command *pc) {
  int n = 0;
  for (const parsed_command_value_pair *p = pc->values; p; p = p->next) n++;
  return n;
}

// Sends a batch marker (50 or 51). For 50 returns 0 when a handle came
// back; for 51 returns 0 only when the status is "OK". Non-zero otherwise.
int send_batch_marker(int type) {
  vornal_message *msg = vornal_send_message(type, "", "", "", "", "");
  if (!msg) return 1;
  int failed = 0;
  if (type == VORNAL_MSG_BATCH_CLOSE) {
    char *status = vornal_get_message_response_status(msg);
    failed = !status || strcmp(status, "OK") != 0;
    free(status);
  }
  vornal_message_free(msg);
  return failed;
}

// Sends one set request per pair into pair->request, stopping at the first
// send without a handle. Returns 0 when every pair went out.
int send_requests(struct parsed_command *pc) {
  for (parsed_command_value_pair *p = pc->values; p; p = p->next) {
    char *value =
        p->value ? dequote(p->value, strlen(p->value), '\\', '"') : nullptr;
    p->request = vornal_send_message(VORNAL_MSG_SET, nullptr, pc->path, nullptr,
                                     p->name, value);
    cli_free(value);
    if (!p->request) return 1;
  }
  return 0;
}

// Reads, prints and releases the status of one pair. Returns 0 when the
// daemon accepted the value, 1 otherwise.
int take_reply(struct parsed_command *pc, parsed_command_value_pair *p) {
  if (!p->request) {
    puts("Couldn't send.");
    return 1;
  }
  p->status_text = vornal_get_message_response_status(p->request);
  int failed = 1;
  if (!p->status_text) {
    puts("ERR No reply received.");
    fail_status(-12);
  } else {
    printf("Set %s: %s\n", p->name, p->status_text);
    failed = strcmp(p->status_text, "OK") != 0;
    if (!failed && cli_opts.interactive) check_side_effects(pc, 1);
    if (strcmp(p->status_text, no_entry) == 0) fail_status(-10);
    if (strcmp(p->status_text, "ERR sanity check failed") == 0)
      fail_status(-19);
  }
  free(p->status_text);
  vornal_message_free(p->request);
  p->status_text = nullptr;
  p->request = nullptr;
  return failed;
}

}  // namespace

int cmd_get(struct parsed_command *pc) {
  if (!pc->values) {
    puts("Parse error: get requires a parameter name.");
    fail_status(-17);
    return 0;
  }
  for (parsed_command_value_pair *p = pc->values; p; p = p->next) {
    char *value = get_value(pc->path, p->name);
    if (!value) {
      puts("ERR No reply received.");
      fail_status(-12);
      continue;
    }
    printf("Get %s: %s\n", p->name, value);
    if (strcmp(value, no_entry) == 0) fail_status(-10);
    free(value);
  }
  return 0;
}

int cmd_set(struct parsed_command *pc) {
  bool batch = pair_count(pc) > 1;
  int failed = 0;
  if (batch && send_batch_marker(VORNAL_MSG_BATCH_OPEN) != 0) failed = 1;
  if (!failed && send_requests(pc) != 0) failed = 1;
  if (batch && !failed && send_batch_marker(VORNAL_MSG_BATCH_CLOSE) != 0)
    failed = 1;
  for (parsed_command_value_pair *p = pc->values; p; p = p->next)
    failed |= take_reply(pc, p);
  if (!failed) {
    cli_state.modified = true;
    return 0;
  }
  // The created node stands for a create that the daemon keeps only if the
  // whole line succeeds.
  if (pc->created) undo_create(pc);
  return 1;
}

int set_after_create(struct parsed_command *pc) {
  pc->create_done = 1;
  pc->path_node = pc->created;
  return cmd_set(pc);
}
