// The string list: a null-terminated array of allocator texts held through a
// handle (the variable holding the array); the empty list is a null handle.
#pragma once

// Returns the number of entries; 0 for a null handle.
int strlist_count(char *const *list);

// Appends text, which the list then owns. Returns 0, or 1 when the array
// cannot grow (list unchanged, text still the caller's).
int strlist_append(char ***list, char *text);

// Releases every entry and the array; *list becomes null.
void strlist_free(char ***list);

// Appends a copy of every entry of source. Returns 0, or 1 when memory runs
// out (the copies made so far stay appended).
int strlist_append_copies(char ***list, char *const *source);

// Returns a new list of copies of the entries of source that begin with
// prefix (ignoring case; a null prefix takes all), or null when none do.
char **strlist_filter_prefix(const char *prefix, char *const *source);

// Appends a talloc copy of text to a talloc array owned by owner (the node
// choices shape). Returns 0, or 1 when memory runs out (list unchanged).
int strlist_append_talloc(const void *owner, char ***list, const char *text);
