// Changes that a commit could not make durable, written out as the shell's
// own command lines so that nothing a user believed committed is lost: an
// administrator can type them again, or run them with cli -f.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vornd/tree.h"

namespace vornd {

// Returns the command lines that bring from's changeable state (values of
// settable parameters, entries of creatable lists) to to's: deletes, then
// creates, then sets, in tree order.
std::vector<std::string> pending_changes(const Tree &from, const Tree &to);

// Returns text as the shell reads it back as one word: a backslash before
// every blank, quote, backslash and "=", and before "/" when it is a path
// component; control bytes as "\xHH" (they cannot be typed anyway).
std::string typed(std::string_view text, bool component);

// Writes lines to a new file "<store>.unsaved-<UTC time>" beside the store.
// Returns its name, or "" with why set when the folder takes none.
std::string write_beside(const std::string &store,
                         const std::vector<std::string> &lines,
                         std::string &why);

}  // namespace vornd
