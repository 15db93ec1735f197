// Fuzzes word splitting, quote removal and URL-style decoding. The first
// byte picks the splitter's settings; the rest is the text, handed over in an
// exactly sized, unterminated buffer so that ASan flags any read past n.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "util/alloc.h"
#include "util/text.h"

namespace {

// Aborts with a message when an invariant does not hold.
void check(bool ok, const char *what) {
  if (ok) return;
  fprintf(stderr, "invariant broken: %s\n", what);
  abort();
}

// Returns the number of words a splitter without quotes or escapes yields.
size_t plain_word_count(const char *bytes, size_t n, char sep, bool keep) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i)
    if (bytes[i] != sep && (i == 0 || bytes[i - 1] == sep)) ++count;
  return count + (keep && n > 0 && bytes[n - 1] == sep ? 1 : 0);
}

void fuzz_split(const char *bytes, size_t n, uint8_t mode) {
  const char sep = " /="[mode % 3], quote = mode & 4 ? '"' : '\0';
  const bool keep = mode & 8;
  char **raw = nullptr, **decoded = nullptr;
  int count = split_words(bytes, n, &raw, sep, quote, '\\', keep, WORD_RAW);
  int again =
      split_words(bytes, n, &decoded, sep, quote, '\\', keep, WORD_DECODE);
  check(count == again, "coding changes the word count");
  check(count >= 0 && static_cast<size_t>(count) <= (n + 2) / 2,
        "more words than the bytes allow");
  check((n == 0) == (raw == nullptr), "array handed over wrongly");
  // A zero quote byte means none, yet a zero byte in the input still acts
  // as one; leave such inputs out of the comparison.
  if (!memchr(bytes, quote, n) && !memchr(bytes, '\\', n))
    check(static_cast<size_t>(count) == plain_word_count(bytes, n, sep, keep),
          "word count differs from a plain split");
  // Raw words are pieces of the input, in order, never led by a separator.
  size_t cursor = 0, total = 0;
  for (int i = 0; i < count; ++i) {
    size_t len = strlen(raw[i]);
    const void *at = memmem(bytes + cursor, n - cursor, raw[i], len);
    check(at != nullptr, "raw word is not a piece of the input");
    cursor = static_cast<size_t>(static_cast<const char *>(at) - bytes) + len;
    check(raw[i][0] != sep, "word starts with a separator");
    check(strlen(decoded[i]) <= len, "decoding made a word longer");
    total += len;
    cli_free(raw[i]);
    cli_free(decoded[i]);
  }
  check(total <= n, "words hold more bytes than the input");
  cli_free(raw);
  cli_free(decoded);
}

void fuzz_dequote(const char *bytes, size_t n) {
  char *plain = dequote(bytes, n, '\\', '"');
  size_t len = strnlen(bytes, n);
  check(strlen(plain) <= len, "dequote made the text longer");
  // Escaping every escape and quote character and removing them again must
  // give the text back.
  std::string escaped;
  for (size_t i = 0; i < len; ++i) {
    if (bytes[i] == '\\' || bytes[i] == '"') escaped += '\\';
    escaped += bytes[i];
  }
  char *back = dequote(escaped.data(), escaped.size(), '\\', '"');
  check(std::string(back) == std::string(bytes, len), "escape round trip");
  cli_free(plain);
  cli_free(back);
}

void fuzz_url_decode(const char *text, uint8_t mode) {
  char *decoded = url_decode(text);
  check(strlen(decoded) <= strlen(text), "decoding made the text longer");
  // Every byte written as %xx (upper or lower case digits) decodes back.
  const char *digits = mode & 16 ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string encoded;
  for (const char *p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    encoded += {'%', digits[c >> 4], digits[c & 15]};
  }
  char *back = url_decode(encoded.c_str());
  check(strcmp(back, text) == 0, "encode round trip");
  cli_free(decoded);
  cli_free(back);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const size_t n = size - 1;
  char *bytes = static_cast<char *>(malloc(n ? n : 1));
  memcpy(bytes, data + 1, n);
  fuzz_split(bytes, n, mode);
  fuzz_dequote(bytes, n);
  char *text = static_cast<char *>(malloc(n + 1));
  memcpy(text, bytes, n);
  text[n] = '\0';
  fuzz_url_decode(text, mode);
  free(text);
  free(bytes);
  return 0;
}
