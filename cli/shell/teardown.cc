#include "shell/teardown.h"

#include "lang/completion.h"
#include "shell/queue.h"
#include "tree/node.h"
#include "tree/strlist.h"
#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

void send_logout(void) {
  vornal_message *m =
      vornal_send_message(VORNAL_MSG_LOGOUT, "", "", "", "", "");
  vornal_message_free(m);
}

void release_session_texts(void) {
  cli_free(cli_state.input_file);
  cli_state.input_file = nullptr;
  // Texts that are not owned stay where they are: a password read from the
  // terminal is kept for the whole run and never released.
  if (!cli_opts.user_is_static) {
    cli_free(cli_state.user);
    cli_state.user = nullptr;
    cli_opts.user_is_static = true;
  }
  if (!cli_opts.password_is_static) {
    cli_free(cli_state.password);
    cli_state.password = nullptr;
    cli_opts.password_is_static = true;
  }
  if (!cli_opts.server_is_static) {
    cli_free(cli_opts.server);
    cli_opts.server = nullptr;
    cli_opts.server_is_static = true;
  }
  cli_free(cli_state.journal_branch);
  cli_state.journal_branch = nullptr;
}

void end_session(void) {
  vornal_set_keep_alive(0, 0);
  send_logout();
  strlist_free(&cli_state.journal);
  release_completion_line();
  free_tree();
  release_session_texts();
  // Lines the read loop never reached.
  clear_command_queue();
}
