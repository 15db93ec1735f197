// Keeps the local tree in step after this shell changed something: the
// daemon's entries below "/param/side-effect" name the subtrees to re-read.
#pragma once

// The branch whose entries name what to re-read, "/param/side-effect".
extern const char side_effect_root[];

// Asks the daemon for parameter name of the side-effect entry at
// side_effect_path and re-reads the subtree its value names.
void refresh_side_effect(const char *side_effect_path, const char *name);
