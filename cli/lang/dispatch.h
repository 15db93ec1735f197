// Running one command line: parse, refuse what may not run, call the
// handler and record journaled lines in the change journal.
//
// A new journal's branch is the current node at the moment its first line
// is about to run, not after its handler: a replay starts from that branch
// and runs the first line again, so it must stand where the user stood when
// the line first ran. Taken afterwards, a first "cd x" would replay from
// inside x and a "delete ." of the current node would replay from the
// parent and delete the wrong node.
#pragma once

// Runs line (still the caller's). With replaying set the line is not
// recorded in the change journal again.
void run_command_line(const char *line, int replaying);

// When the journal is empty, makes cli_state.journal_branch the branch of
// the current node (null at the root), releasing the old text.
void journal_start_branch(void);

// Appends a copy of line to cli_state.journal. A copy that cannot be made or
// stored is dropped.
void journal_append(const char *line);

// Empties cli_state.journal; the branch stays.
void journal_clear(void);
