// Connecting to the daemon and logging in.
#pragma once

// Login results.
enum {
  LOGIN_OK = 0,
  LOGIN_IN_USE = 1,
  LOGIN_REJECTED = 2,
  LOGIN_UNRECOGNISED = 3,
  LOGIN_NO_REPLY = -1,
  LOGIN_TERMINAL_LOST = 74,  // the terminal went away at the password prompt
};

// Connects to cli_opts.server, asks for a password when a network server
// needs one, and logs in, offering a takeover on a terminal. Returns 0 when
// logged in, the connect code when connecting failed, else a login result;
// nothing is sent when the terminal went away during the prompt.
int connect_and_login(void);

// Sends one login (with "-force" when force) and reports the daemon's
// answer. Returns a login result.
int send_login(bool force);
