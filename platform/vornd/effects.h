// Side effects declared by the model: parameters that reveal nodes elsewhere
// and lists mirrored by other lists, plus the hidden "/param/side-effect"
// branch that tells clients what to read again after a change.
#pragma once

#include "vornd/tree.h"

namespace vornd {

// Carries out the reveal of parameter p after its value changed.
void apply_reveal(Tree &t, Node &p);
// Makes the mirror list of list follow list's entries (names and order).
void sync_mirror(Tree &t, Node &list);
// Rebuilds "/param/side-effect" from every declaration in the tree.
void rebuild_side_effects(Tree &t);
// Applies every reveal and mirror of the tree, then rebuilds the branch.
void settle(Tree &t);
// Returns path with "/" written as "." (the form of side-effect values).
std::string dotted(std::string_view path);

}  // namespace vornd
