#include "link/login.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "link/password.h"
#include "shell/ask.h"
#include "util/state.h"
#include "vornal.h"

namespace {

struct login_word {
  const char *word;
  int result;
};

// Tried in order; a status matches a word it begins with.
const login_word login_words[] = {
    {.word = "OK", .result = LOGIN_OK},
    {.word = "INUSE", .result = LOGIN_IN_USE},
    {.word = "NO", .result = LOGIN_REJECTED},
};

// Returns the login result for a status text.
int match_login_status(const char *status) {
  for (const login_word &w : login_words)
    if (strncmp(status, w.word, strlen(w.word)) == 0) return w.result;
  return LOGIN_UNRECOGNISED;
}

// Prints what a login result means to the user.
void report_login(int result, const char *status) {
  switch (result) {
    case LOGIN_IN_USE:
      if (cli_opts.interactive)
        puts(
            "There is an existing session. Would you like to kill it (this "
            "will log someone else out)? y/N");
      else
        puts("Vorn in use and login not forced.");
      break;
    case LOGIN_REJECTED:
      puts("Authentication details were not accepted.");
      break;
    case LOGIN_UNRECOGNISED:
      printf("Unrecognised response (%s).\n", status);
      break;
  }
}

}  // namespace

int send_login(bool force) {
  const char *user = cli_state.user;
  const char *password = cli_state.password ? cli_state.password : user;
  vornal_message *m = vornal_send_message(
      VORNAL_MSG_LOGIN, force ? "-force" : "", "", "", user, password);
  if (!m) {
    printf("Could not login as '%s'.No message data received from vornal.",
           user);
    fflush(stdout);
    return LOGIN_NO_REPLY;
  }
  char *status = vornal_get_message_response_status(m);
  if (!status) {
    puts("Connection established but then timed out.");
    vornal_message_free(m);
    return LOGIN_NO_REPLY;
  }
  int result = match_login_status(status);
  report_login(result, status);
  free(status);
  vornal_message_free(m);
  return result;
}

int connect_and_login(void) {
  int st = vornal_connect(cli_opts.server);
  if (st != VORNAL_STATE_CONNECTED) {
    printf("Connection to %s failed - %s\n", cli_opts.server,
           vornal_conn_error(st));
    return st;
  }
  if (cli_opts.server[0] != '/' && !cli_state.password)
    cli_state.password = read_password();
  if (cli_state.terminal_lost) return LOGIN_TERMINAL_LOST;
  int r = send_login(cli_state.force_login);
  if (r == LOGIN_IN_USE && !cli_state.force_login && cli_opts.interactive) {
    // The question is already printed; one key answers it.
    if (ask_yes_no() == 'y') return send_login(true);
    return LOGIN_IN_USE;
  }
  return r;
}
