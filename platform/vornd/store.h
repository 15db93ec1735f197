// Persistence of committed configurations: what the clients may change
// (settable values and the entries of creatable lists), as JSON.
#pragma once

#include <string>

#include "vornd/tree.h"

namespace vornd {

// Writes t to path atomically (temporary file in the same folder, fsync,
// rename, fsync of the folder). Returns "" or why it failed; on failure the
// old file is untouched.
std::string save_store(const Tree &t, const std::string &path);

// Returns the temporary file a commit to path writes first; one found at
// start was left by a commit that never finished.
std::string stale_temp_of(const std::string &path);

// Renames the store at path to "<path>.bad-<UTC time>"; returns the new
// name, or "" when it could not be renamed.
std::string set_aside(const std::string &path);
// Returns the time now in UTC as 20261207T215200Z, for names of files.
std::string utc_stamp();

// Applies the store at path over t's defaults. A missing file is an empty
// store. Returns "" or "<path>:<line>: <what>" / "<path>: <what>"; on
// failure t is unchanged.
std::string load_store(Tree &t, const std::string &path);

// Returns the JSON text of t's changeable state.
std::string store_text(const Tree &t);
// Applies store text over t. Returns "" or why not (t then unchanged).
std::string apply_store_text(Tree &t, std::string_view text,
                             const std::string &origin);

}  // namespace vornd
