#include "util/text.h"

#include <limits.h>
#include <string.h>

#include "util/alloc.h"
#include "util/state.h"

namespace {
// Returns a zero-filled block for a text of len bytes and its terminator, or
// null.
char *new_text(size_t len) {
  if (len >= UINT_MAX) return nullptr;
  return static_cast<char *>(__cli_malloc(static_cast<unsigned>(len + 1)));
}
}  // namespace

int hexvalue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

char *url_decode(const char *text) {
  if (!text) return nullptr;
  size_t len = strlen(text);
  char *out = new_text(len);
  if (!out) return nullptr;
  size_t o = 0;
  for (size_t i = 0; i < len; ++i) {
    // A "%" with fewer than two characters behind it is copied unchanged,
    // so the digits are never looked for past the end of the text.
    if (text[i] == '%' && len - i > 2) {
      out[o++] =
          static_cast<char>(hexvalue(text[i + 1]) * 16 + hexvalue(text[i + 2]));
      i += 2;
    } else {
      out[o++] = text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

namespace {
// Runs the quote-removal scan over at most n bytes; writes the kept bytes to
// out when it is not null. Returns the number of bytes kept.
size_t dequote_scan(const char *bytes, size_t n, char escape, char quote,
                    char *out) {
  size_t kept = 0;
  bool escaped = false;
  for (size_t i = 0; i < n && bytes[i]; ++i) {
    char c = bytes[i];
    bool keep = escaped || (c != escape && c != quote);
    escaped = !escaped && c == escape;
    if (!keep) continue;
    if (out) out[kept] = c;
    ++kept;
  }
  return kept;
}
}  // namespace

char *dequote(const char *bytes, size_t n, char escape, char quote) {
  if (!bytes) return nullptr;
  // Counting first gives a block of exactly the kept bytes.
  size_t kept = dequote_scan(bytes, n, escape, quote, nullptr);
  char *out = new_text(kept);
  if (out) dequote_scan(bytes, n, escape, quote, out);
  return out;
}

char *dequote_text(const char *text) {
  if (!text) return nullptr;
  return dequote(text, strlen(text), '\\', '"');
}

namespace {
struct word_rules {
  char separator;
  char quote;
  char escape;
  int keep_trailing;
};

// Scans n bytes into word spans. When starts and lens are not null they
// receive each span; when last is not null it receives the last span's
// start and length. Returns the number of words.
size_t scan_words(const char *bytes, size_t n, const word_rules &r,
                  size_t *starts, size_t *lens, size_t *last = nullptr) {
  bool in_word = false, in_quote = false, escaped = false, last_sep = false;
  size_t count = 0, start = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = bytes[i];
    if (c == r.separator && !in_quote && !escaped) {
      if (in_word) {
        if (starts) starts[count] = start, lens[count] = i - start;
        if (last) last[0] = start, last[1] = i - start;
        ++count;
        in_word = false;
      }
      last_sep = true;
      continue;
    }
    if (!in_word) start = i, in_word = true;
    if (c == r.quote && !escaped)
      in_quote = !in_quote;
    else if (c == r.escape)
      escaped = !escaped;
    else
      escaped = false;
    last_sep = false;
  }
  if (r.keep_trailing && last_sep) start = n, in_word = true;
  if (in_word) {
    if (starts) starts[count] = start, lens[count] = n - start;
    if (last) last[0] = start, last[1] = n - start;
    ++count;
  }
  return count;
}

// Returns the text of one word span in the given coding, or null.
char *make_word(const char *bytes, size_t len, const word_rules &r,
                enum word_coding coding) {
  if (coding == WORD_RAW) return cli_strndup(bytes, len);
  char *plain = dequote(bytes, len, r.escape, r.quote);
  char *decoded = url_decode(plain);
  cli_free(plain);
  return decoded;
}

// Releases the first count words of an array and the array itself.
void free_words(char **words, size_t count) {
  for (size_t i = 0; i < count; ++i) cli_free(words[i]);
  cli_free(words);
}
}  // namespace

int split_words(const char *bytes, size_t n, char ***out, char separator,
                char quote, char escape, int keep_trailing,
                enum word_coding coding) {
  if (!bytes || n == 0) return 0;
  const word_rules r = {separator, quote, escape, keep_trailing};
  size_t count = scan_words(bytes, n, r, nullptr, nullptr);
  if (count > INT_MAX / (2 * sizeof(size_t))) return 0;
  unsigned spans_size = static_cast<unsigned>(2 * count * sizeof(size_t));
  size_t *spans = static_cast<size_t *>(__cli_malloc(spans_size));
  char **words = static_cast<char **>(
      __cli_malloc(static_cast<unsigned>(count * sizeof(char *))));
  if (!spans || !words) {
    cli_free(spans);
    cli_free(words);
    return 0;
  }
  scan_words(bytes, n, r, spans, spans + count);
  size_t made = 0;
  while (made < count) {
    words[made] =
        make_word(bytes + spans[made], spans[count + made], r, coding);
    if (!words[made]) break;
    ++made;
  }
  cli_free(spans);
  // A word that could not be made fails the whole split; the caller's
  // array pointer stays as it was.
  if (made < count) {
    free_words(words, made);
    return 0;
  }
  *out = words;
  return static_cast<int>(count);
}

int split_path_line(const char *text, char ***out) {
  if (!text) return 0;
  return split_words(text, strlen(text), out, '/', '\0', '\\', 1, WORD_DECODE);
}

char *path_line_last(const char *text, int *count) {
  *count = 0;
  size_t n = text ? strlen(text) : 0, last[2];
  if (n == 0) return nullptr;
  const word_rules r = {'/', '\0', '\\', 1};
  size_t words = scan_words(text, n, r, nullptr, nullptr, last);
  if (words == 0 || words > INT_MAX) return nullptr;
  // Most names hold nothing to decode: then one copy, not two.
  const char *at = text + last[0];
  bool coded = false;
  for (size_t i = 0; i < last[1] && !coded; i++)
    coded = at[i] == '\\' || at[i] == '%' || at[i] == '+';
  char *word =
      coded ? make_word(at, last[1], r, WORD_DECODE) : cli_strndup(at, last[1]);
  if (word) *count = static_cast<int>(words);
  return word;
}

char *join_words(const char *separator, char *const *texts, int count) {
  if (count < 1) return nullptr;
  size_t sep_len = strlen(separator), total = 0;
  for (int i = 0; i < count; ++i)
    if (texts[i]) total += strlen(texts[i]) + (i > 0 ? sep_len : 0);
  char *out = new_text(total);
  if (!out) return nullptr;
  char *end = out;
  for (int i = 0; i < count; ++i) {
    if (!texts[i]) continue;
    if (i > 0) end = stpcpy(end, separator);
    end = stpcpy(end, texts[i]);
  }
  return out;
}

namespace {
// Replaces *text by a new block holding *text, middle and tail in turn and
// releases the old one. When memory runs out *text stays as it was.
void append_two(char **text, const char *middle, const char *tail) {
  size_t old_len = *text ? strlen(*text) : 0;
  char *fresh = new_text(old_len + strlen(middle) + strlen(tail));
  if (!fresh) return;
  char *end = fresh;
  if (*text) end = stpcpy(end, *text);
  stpcpy(stpcpy(end, middle), tail);
  cli_free(*text);
  *text = fresh;
}
}  // namespace

void str_append(char **text, const char *tail) {
  if (!tail) return;
  append_two(text, "", tail);
}

void path_append(char **text, const char *component) {
  const char *sep = cli_opts.separator;
  size_t len = *text ? strlen(*text) : 0;
  bool ends_in_sep = len > 0 && (*text)[len - 1] == sep[0];
  append_two(text, ends_in_sep ? "" : sep, component);
}

char *find_unescaped(const char *text, const char *set) {
  if (!text) return nullptr;
  for (size_t i = 0; text[i]; ++i) {
    if (!strchr(set, text[i])) continue;
    if (i == 0 || text[i - 1] != '\\') return const_cast<char *>(text + i);
  }
  return nullptr;
}

namespace {
// Returns the number of non-overlapping occurrences of search in text.
size_t count_hits(const char *text, const char *search, size_t search_len) {
  size_t hits = 0;
  for (const char *p = strstr(text, search); p;
       p = strstr(p + search_len, search))
    ++hits;
  return hits;
}
}  // namespace

void replace_all(char **text, const char *search, const char *replacement) {
  size_t search_len = search ? strlen(search) : 0;
  // An empty search text would match everywhere; treat it as no hit.
  if (!*text || search_len == 0) return;
  size_t hits = count_hits(*text, search, search_len);
  if (hits == 0) return;
  size_t repl_len = strlen(replacement);
  size_t len = strlen(*text) - hits * search_len + hits * repl_len;
  char *fresh = new_text(len);
  if (!fresh) return;
  char *end = fresh;
  const char *from = *text;
  for (const char *p = strstr(from, search); p; p = strstr(from, search)) {
    memcpy(end, from, static_cast<size_t>(p - from));
    end = stpcpy(end + (p - from), replacement);
    from = p + search_len;
  }
  strcpy(end, from);
  cli_free(*text);
  *text = fresh;
}

char *escape_separators(const char *text) {
  if (!text) return nullptr;
  // Built directly rather than through replace_all so that running out of
  // memory gives null instead of a copy left unescaped.
  size_t slashes = 0;
  for (const char *p = text; *p; ++p) slashes += *p == '/';
  char *out = new_text(strlen(text) + slashes);
  if (!out) return nullptr;
  char *end = out;
  for (const char *p = text; *p; ++p) {
    if (*p == '/') *end++ = '\\';
    *end++ = *p;
  }
  return out;
}

int split_last_component(char **path, char **last) {
  const char *set = cli_opts.separator;
  char *cut = find_unescaped(*path, set);
  for (char *next = cut; next; next = find_unescaped(next + 1, set)) cut = next;
  if (!cut) {
    *last = *path;
    *path = nullptr;
    return 0;
  }
  char *tail = cli_strdup(cut + 1);
  char *head =
      tail ? cli_strndup(*path, static_cast<size_t>(cut - *path)) : nullptr;
  if (!head) {
    cli_free(tail);
    *last = nullptr;
    return 1;
  }
  cli_free(*path);
  *path = head;
  *last = tail;
  return 0;
}
