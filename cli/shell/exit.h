// Whether and how the session may end by exit.
#pragma once

// Returns 0 when exit may end the session: nothing uncommitted, or -C and
// a commit that the daemon answered with exactly "OK". Returns 1 otherwise,
// with a message only when -C was not given.
int exit_allowed(void);
