// commit and revert, and the first step of a replay of the change journal
// (the read loop runs the lines; lang/dispatch.h records them).
#pragma once

// Makes the node of cli_state.journal_branch current, looked up from the
// root. Returns 0, or 1 after saying that the branch is gone (the current
// node stays).
int journal_enter_branch(void);
