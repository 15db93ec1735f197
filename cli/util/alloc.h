// The shell's own allocator: every block records its size in a header in
// front of it, so that a resize copies exactly what the old block held.
// Blocks from here are released with cli_free only, never with free.
#pragma once

#include <stddef.h>

// Fault injection for tests: when set to n > 0, the n-th allocation from now
// fails as if malloc had returned null; 0 (the default) turns it off.
extern int cli_alloc_fail_countdown;

// Returns a zero-filled block of size usable bytes, or null (after printing
// "__cli_malloc failed!"). The caller releases it with cli_free.
void *__cli_malloc(unsigned size);

// Releases a block of __cli_malloc; null is ignored.
void cli_free(void *block);

// Returns a new block of size bytes holding the start of old (the smaller of
// both sizes), releasing old; null on failure with old untouched.
void *cli_realloc(void *old, int size);

// Returns a block of n + 1 bytes holding n bytes of text; null for null.
char *cli_strndup(const char *bytes, size_t n);

// Returns cli_strndup of the whole text; null for null.
char *cli_strdup(const char *text);

// Appends tail to *text (which may be null) in place. Returns 0, or 1 with
// *text unchanged when memory runs out.
int cli_extend(char **text, const char *tail);
