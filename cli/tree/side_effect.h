// Keeps the local tree in step after this shell changed something: the
// daemon's entries below "/param/side-effect" name the subtrees to re-read.
#pragma once

struct parsed_command;

// Re-reads the side effects of the change that command made at its path.
// With per_value set (after a set), one refresh per value pair, in order;
// otherwise (create, delete, rename) one refresh on the entry of the path's
// parent.
void check_side_effects(struct parsed_command *command, int per_value);

// Asks the daemon for parameter name of the side-effect entry at
// side_effect_path and re-reads the subtree its value names.
void refresh_side_effect(const char *side_effect_path, const char *name);
