// Text helpers: URL-style decoding, quote removal, word splitting and path
// texts. Every text or array returned is an allocator block (alloc.h) owned
// by the caller.
#pragma once

#include <stddef.h>

enum word_coding { WORD_RAW, WORD_DECODE };

// Returns the value 0-15 of a hexadecimal digit, 0 for anything else.
int hexvalue(int c);

// Returns the decoded copy of a URL-style encoded text; null for null. A
// "%" with fewer than two characters behind it is copied unchanged.
char *url_decode(const char *text);

// Returns a copy of at most n bytes with quotes and escapes removed; null for
// null.
char *dequote(const char *bytes, size_t n, char escape, char quote);

// Returns dequote of the whole text with '\\' and '"'; null for null.
char *dequote_text(const char *text);

// Splits n bytes into words; *out receives an array of count word texts
// (no terminating entry). Returns the count; 0 leaves *out untouched when
// bytes is null, n is 0 or memory runs out. The caller frees each word, then
// the array.
int split_words(const char *bytes, size_t n, char ***out, char separator,
                char quote, char escape, int keep_trailing,
                enum word_coding coding);

// Splits a daemon listing line into decoded components, keeping a trailing
// empty one. Returns the count; *out as for split_words.
int split_path_line(const char *text, char ***out);

// Returns the last component that split_path_line would give, with their
// number in *count: one block instead of one per component, as a listing
// line's name is all the loader uses. Null with *count 0 for a line without
// components or when memory runs out.
char *path_line_last(const char *text, int *count);

// Returns the texts joined with separator between them, or null when count
// is below 1.
char *join_words(const char *separator, char *const *texts, int count);

// Appends tail to *text, replacing the block; a null *text becomes a copy.
// When memory runs out *text keeps the old text.
void str_append(char **text, const char *tail);

// Appends a path component to *text, adding the separator when needed.
void path_append(char **text, const char *component);

// Returns the first character of text in set not preceded by a backslash,
// or null.
char *find_unescaped(const char *text, const char *set);

// Replaces every occurrence of search in *text by replacement; *text keeps
// its block when nothing matches.
void replace_all(char **text, const char *search, const char *replacement);

// Returns a copy of text with every "/" preceded by a backslash.
char *escape_separators(const char *text);

// Cuts *path at its last unescaped separator: *last receives the part after
// it and *path the part before. Returns 0, or 1 when a copy fails.
int split_last_component(char **path, char **last);
