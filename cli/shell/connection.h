// Watching the connection after every line: explaining a loss, offering to
// reconnect, rebuilding the tree and offering to replay the journal.
#pragma once

// Returns 0 to go on, non-zero to end the read loop (a loss that was not
// repaired). Only a terminal session asks anything; scripts go on.
int check_connection(void);
