#include "shell/options.h"

#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>
#include <unistd.h>

#include "util/alloc.h"
#include "util/state.h"
#include "vornal.h"

namespace {

const char option_string[] = "Cc:Dd:Ff:qs:t:TU:Vh?";

// Replaces an owned-or-static text with an allocator copy of value.
void take_copy(char **field, bool *is_static, const char *value) {
  if (!*is_static) cli_free(*field);
  *field = cli_strdup(value);
  *is_static = false;
}

// Fills the user, password and server from the environment.
void read_environment(void) {
  const char *user = getenv("CLI_USER");
  if (!user) {
    struct passwd *pw = getpwuid(geteuid());
    if (pw) user = pw->pw_name;
  }
  if (user) take_copy(&cli_state.user, &cli_opts.user_is_static, user);
  const char *password = getenv("CLI_PASSWORD");
  if (password) {
    take_copy(&cli_state.password, &cli_opts.password_is_static, password);
    cli_state.password_from_env = true;
  }
  const char *server = getenv("CLI_SERVER");
  if (server) take_copy(&cli_opts.server, &cli_opts.server_is_static, server);
}

// Applies one option letter. Returns 0 to go on, else the parse result.
int apply_option(int c) {
  switch (c) {
    case 'C':
      cli_state.autocommit = true;
      return 0;
    case 'D':
      vornal_set_connection_debugging(1);
      return 0;
    case 'd':
      openlog("cli2", LOG_PID, LOG_USER);
      return 0;
    case 'F':
      cli_state.force_login = true;
      return 0;
    case 'f':
      cli_free(cli_state.input_file);
      cli_state.input_file = cli_strdup(optarg);
      return 0;
    case 'q':
      cli_state.quiet = true;
      return 0;
    case 's':
      take_copy(&cli_opts.server, &cli_opts.server_is_static, optarg);
      return 0;
    case 't':
      cli_opts.noop_interval = (int)strtol(optarg, nullptr, 10);
      return 0;
    case 'T':
      cli_opts.noop_interval = 0;
      return 0;
    case 'U':
      take_copy(&cli_state.user, &cli_opts.user_is_static, optarg);
      return 0;
    case 'V':
      print_version();
      return OPTIONS_DONE;
    case 'h':
      print_version();
      print_usage();
      return OPTIONS_DONE;
    case 'c':
      printf("Unrecognised option: %c.\n", c);
      return -1;
    default:
      print_version();
      print_usage();
      return -1;
  }
}

}  // namespace

int parse_options(int argc, char **argv) {
  read_environment();
  int c;
  while ((c = getopt(argc, argv, option_string)) != -1) {
    int r = apply_option(c);
    if (r != 0) return r;
  }
  return 0;
}

void print_usage(void) {
  fflush(stdout);  // the banner comes first on a shared terminal
  fputs(
      "Options:\n"
      "-C\t\tCommit unsaved changes by default when exiting.\n"
      "-F\t\tStart session even if another session is active "
      "(terminating the other session).\n"
      "-h\t\tHelp (this message).\n"
      "-q\t\tQuiet mode; don't show the startup greeting.\n"
      "-D\t\tDebug messages sent to and received from vornd.\n"
      "-T\t\tDisable sending no-ops (same as -t 0).\n"
      "-v\t\tShow CLI version.\n"
      "-f [file]\tRead commands from [file] (use - for stdin).\n"
      "-s [server]\tSpecify an alternative vornd to connect to.\n",
      stderr);
  fprintf(stderr,
          "-t [timeout]\tTime between sending no-ops (default %d seconds).\n"
          "\t\tThese are used to monitor the connection status.\n",
          1);
  if (geteuid() == 0) fputs("-U [username]\tUsername\n", stderr);
}
