#include "util/alloc.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int cli_alloc_fail_countdown = 0;

namespace {
// The header is as large as the strictest alignment malloc guarantees, not
// just the 4 bytes the size needs: word arrays and string lists store
// pointers in these blocks, and a 4-byte header would leave them misaligned.
constexpr size_t header_size = alignof(max_align_t);
static_assert(header_size >= sizeof(uint32_t), "header must hold the size");

// Returns the start of the malloc block that holds a user block.
char *raw_of(void *block) {
  return static_cast<char *>(block) - header_size;
}

// Returns the usable size recorded in front of a user block.
uint32_t size_of(void *block) {
  uint32_t size;
  memcpy(&size, raw_of(block), sizeof size);
  return size;
}

// Returns true when the fault-injection countdown says this allocation fails.
bool injected_failure(void) {
  return cli_alloc_fail_countdown > 0 && --cli_alloc_fail_countdown == 0;
}
}  // namespace

void *__cli_malloc(unsigned size) {
  char *raw = nullptr;
  if (!injected_failure() && size <= SIZE_MAX - header_size)
    raw = static_cast<char *>(malloc(header_size + size));
  if (!raw) {
    fputs("__cli_malloc failed!", stdout);
    return nullptr;
  }
  uint32_t recorded = size;
  memcpy(raw, &recorded, sizeof recorded);
  memset(raw + header_size, 0, size);
  return raw + header_size;
}

void cli_free(void *block) {
  if (block) free(raw_of(block));
}

void *cli_realloc(void *old, int size) {
  // A negative size cannot be allocated; report it like any other failure.
  if (size < 0) {
    fputs("__cli_malloc failed!", stdout);
    return nullptr;
  }
  void *fresh = __cli_malloc(static_cast<unsigned>(size));
  if (!fresh || !old) return fresh;
  uint32_t keep = size_of(old);
  if (static_cast<uint32_t>(size) < keep) keep = static_cast<uint32_t>(size);
  memcpy(fresh, old, keep);
  cli_free(old);
  return fresh;
}

char *cli_strndup(const char *bytes, size_t n) {
  if (!bytes) return nullptr;
  if (n >= UINT_MAX) {
    fputs("__cli_malloc failed!", stdout);
    return nullptr;
  }
  char *copy = static_cast<char *>(__cli_malloc(static_cast<unsigned>(n + 1)));
  if (copy) memcpy(copy, bytes, n);
  return copy;
}

char *cli_strdup(const char *text) {
  if (!text) return nullptr;
  return cli_strndup(text, strlen(text));
}

int cli_extend(char **text, const char *tail) {
  size_t old_len = *text ? strlen(*text) : 0;
  size_t tail_len = strlen(tail);
  char *fresh = nullptr;
  if (old_len + tail_len < INT_MAX)
    fresh = static_cast<char *>(
        cli_realloc(*text, static_cast<int>(old_len + tail_len + 1)));
  if (!fresh) {
    puts("Argh. Failed to extend a string!");
    return 1;
  }
  // The old block may have held bytes behind its text; terminate explicitly.
  memcpy(fresh + old_len, tail, tail_len + 1);
  *text = fresh;
  return 0;
}
