// Keeps the local tree in step after a command of this shell changed
// something: the side-effect entries of the change name what to re-read.
#pragma once

struct parsed_command;

// Re-reads the side effects of the change that command made at its path.
// With per_value set (after a set), one refresh per value pair, in order;
// otherwise (create, delete, rename) one refresh on the entry of the path's
// parent.
void check_side_effects(struct parsed_command *command, int per_value);
