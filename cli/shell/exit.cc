#include "shell/exit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "commands/handlers.h"
#include "util/state.h"
#include "vornal.h"

namespace {
// Sends a commit. Returns 0 when its status is exactly "OK", else 1.
int commit_now(void) {
  vornal_message *m = vornal_send_message(VORNAL_MSG_COMMIT, nullptr, nullptr,
                                          nullptr, nullptr, nullptr);
  char *status = m ? vornal_get_message_response_status(m) : nullptr;
  int r = status && strcmp(status, "OK") == 0 ? 0 : 1;
  free(status);
  vornal_message_free(m);
  return r;
}
}  // namespace

int exit_allowed(void) {
  if (!cli_state.modified) return 0;
  if (!cli_state.autocommit) {
    puts("There are uncommited changes. Use exit! to exit anyway.");
    return 1;
  }
  // cli_state.modified stays set: the end of the read loop commits again
  // and reports it.
  return commit_now();
}

int cmd_exit(struct parsed_command *) {
  int r = exit_allowed();
  if (r == 0) cli_state.exit_requested = true;
  return r;
}

int cmd_exit_force(struct parsed_command *) {
  cli_state.discard_changes = true;
  cli_state.exit_requested = true;
  return 0;
}
