// The change journal: the command lines that made the uncommitted changes,
// kept so that they can be run again after a reconnection; commit, revert
// and the replay.
//
// A new journal's branch is the current node at the moment its first line
// is about to run, not after its handler: a replay starts from that branch
// and runs the first line again, so it must stand where the user stood when
// the line first ran. Taken afterwards, a first "cd x" would replay from
// inside x and a "delete ." of the current node would replay from the
// parent and delete the wrong node.
#pragma once

// When the journal is empty, makes cli_state.journal_branch the branch of
// the current node (null at the root), releasing the old text.
void journal_start_branch(void);

// Appends a copy of line to cli_state.journal. A copy that cannot be made or
// stored is dropped.
void journal_append(const char *line);

// Empties cli_state.journal; the branch stays.
void journal_clear(void);

// Runs every journal line again from the journal's branch, without
// recording them again. Prints why and runs nothing when the branch is gone.
void replay_journal(void);
