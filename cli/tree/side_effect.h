// Keeps the local tree in step after this shell changed something: the
// daemon's entries below "/param/side-effect" name the subtrees to re-read.
#pragma once

// Re-reads the side effects of a change at path (a command's absolute path
// text). With per_value set, one refresh per parameter name in names (count
// of them, in order); otherwise one refresh on the entry of path's parent.
void check_side_effects_at(const char *path, const char *const *names,
                           int count, int per_value);

// Asks the daemon for parameter name of the side-effect entry at
// side_effect_path and re-reads the subtree its value names.
void refresh_side_effect(const char *side_effect_path, const char *name);
