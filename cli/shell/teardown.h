// The end of a session: logout and the release of everything it owns.
#pragma once

// Sends the logout message and releases its reply unread.
void send_logout(void);

// Releases the owned texts of cli_opts and cli_state (input file, user,
// password, server, journal branch) as their ownership flags allow.
void release_session_texts(void);

// Stops the no-ops, logs out and releases everything the session holds.
void end_session(void);
