// The shell's entry point: options, greeting, login and the session.
#pragma once

// Exit statuses of start-up checks made before connecting (sysexits values).
enum {
  STATUS_NO_INPUT = 66,  // the -f file cannot be opened
  STATUS_NO_USER = 67,   // no user name from -U, CLI_USER or the system
};

// Runs the whole program. Returns its exit status.
int cli_main(int argc, char **argv);
