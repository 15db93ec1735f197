#include "tree/strlist.h"

#include <string.h>
#include <strings.h>
#include <talloc.h>

#include "util/alloc.h"

int strlist_count(char *const *list) {
  int n = 0;
  while (list && list[n]) n++;
  return n;
}

int strlist_append(char ***list, char *text) {
  int n = strlist_count(*list);
  // The allocator's resize zero-fills new room; the terminator is set
  // anyway so the list never depends on that.
  char **grown = static_cast<char **>(
      cli_realloc(*list, static_cast<int>((n + 2) * sizeof(char *))));
  if (!grown) return 1;
  grown[n] = text;
  grown[n + 1] = nullptr;
  *list = grown;
  return 0;
}

void strlist_free(char ***list) {
  if (!*list) return;
  for (char **entry = *list; *entry; entry++) cli_free(*entry);
  cli_free(*list);
  *list = nullptr;
}

int strlist_append_copies(char ***list, char *const *source) {
  int n = strlist_count(*list), more = strlist_count(source);
  if (more == 0) return 0;
  // One resize for all: appending one by one would copy the array each time.
  char **grown = static_cast<char **>(
      cli_realloc(*list, static_cast<int>((n + more + 1) * sizeof(char *))));
  if (!grown) return 1;
  *list = grown;
  for (int i = 0; i < more; i++) {
    if (!(grown[n + i] = cli_strdup(source[i]))) return 1;
  }
  grown[n + more] = nullptr;
  return 0;
}

char **strlist_filter_prefix(const char *prefix, char *const *source) {
  char **picked = nullptr;
  size_t n = prefix ? strlen(prefix) : 0;
  for (int i = 0; source && source[i]; i++) {
    if (prefix && strncasecmp(source[i], prefix, n) != 0) continue;
    char *copy = cli_strdup(source[i]);
    if (copy && strlist_append(&picked, copy) != 0) cli_free(copy);
  }
  return picked;
}

int strlist_append_talloc(const void *owner, char ***list, const char *text) {
  int n = strlist_count(*list);
  char *copy = talloc_strdup(owner, text);
  if (!copy) return 1;
  void **grown =
      talloc_realloc(owner, reinterpret_cast<void **>(*list), void *, n + 2);
  if (!grown) {
    talloc_free(copy);
    return 1;
  }
  grown[n] = copy;
  grown[n + 1] = nullptr;
  *list = reinterpret_cast<char **>(grown);
  return 0;
}
