// The size-prefixed allocator and the text helpers built on it. Fuzzing
// (text_words) checks the splitter's invariants; these pin exact results.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "lang/commands.h"
#include "lang/grammar.h"
#include "test_util.h"
#include "util/text.h"

namespace {

// Returns the words of an array as "[a][b]" and releases every block; a
// null array shows as "<null>".
std::string joined(char **words, int count) {
  std::string out = words ? "" : "<null>";
  for (int i = 0; i < count; ++i) {
    out += "[" + std::string(words[i]) + "]";
    cli_free(words[i]);
  }
  cli_free(words);
  return out;
}

// Runs fn with the n-th allocation failing; returns what was printed.
template <typename Fn>
std::string failing(int n, Fn fn) {
  cli_alloc_fail_countdown = n;
  std::string out = printed(fn);
  cli_alloc_fail_countdown = 0;
  return out;
}

TEST(Alloc, BlocksAreZeroedAlignedAndReallocCopiesOnlyTheRecordedSize) {
  // A dirty block given back is likely handed out again.
  char *dirty = static_cast<char *>(__cli_malloc(24));
  memset(dirty, 'x', 24);
  cli_free(dirty);
  char *block = static_cast<char *>(__cli_malloc(24));
  EXPECT_EQ(std::string(block, 24), std::string(24, '\0'));
  void *empty[2] = {__cli_malloc(0), __cli_malloc(0)};
  ASSERT_TRUE(empty[0] && empty[1] && empty[0] != empty[1]);
  for (void *p : {empty[0], empty[1], static_cast<void *>(block)}) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(max_align_t), 0u);
    cli_free(p);
  }
  char *text = static_cast<char *>(cli_realloc(nullptr, 5));
  memcpy(text, "abcde", 5);
  // Growing copies the three recorded bytes (ASan catches a wider read).
  text = static_cast<char *>(cli_realloc(cli_realloc(text, 3), 40));
  EXPECT_EQ(std::string(text, 40), "abc" + std::string(37, '\0'));
  // Junk behind the terminator of a larger block must not survive.
  memcpy(text, "xy\0JUNK", 7);
  EXPECT_EQ(cli_extend(&text, "z"), 0);
  EXPECT_EQ(take(text), "xyz");
}

TEST(Alloc, FailedAllocationSaysSoAndKeepsTheOldText) {
  const std::string said = "__cli_malloc failed!";
  char *text = cli_strdup("old"), *last = nullptr, **words = nullptr;
  EXPECT_EQ(failing(1, [&] { EXPECT_FALSE(cli_realloc(text, 100)); }), said);
  EXPECT_EQ(failing(1, [&] { EXPECT_EQ(cli_extend(&text, "new"), 1); }),
            said + "Argh. Failed to extend a string!\n");
  for (int n = 1; n <= 4; ++n)
    failing(n, [&] {
      split_words("a b c", 5, &words, ' ', '"', '\\', 0, WORD_DECODE);
    });
  EXPECT_EQ(words, nullptr);  // and nothing leaked
  EXPECT_EQ(take(text), "old");
  text = cli_strdup("/a/b");
  for (int n = 1; n <= 2; ++n)
    failing(n, [&] { EXPECT_EQ(split_last_component(&text, &last), 1); });
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(take(text), "/a/b");
}

TEST(Text, DecodeDequoteAndKindLists) {
  EXPECT_EQ(take(kinds_text(KIND_OPTION | KIND_PATH | KIND_VALUE)),
            "option, path or value");
  // Non-hex digits count as 0: %zz is a zero byte that ends the text. A
  // "%" without two characters behind it is kept; exactly sized heap copies
  // let ASan catch a look past the end.
  const char *decoded[][2] = {{"ab%zzcd", "ab"}, {"a+%2Fb", "a /b"},
                              {"abc%", "abc%"},  {"abc%4", "abc%4"},
                              {"%", "%"},        {"+%4", " %4"}};
  for (const auto &c : decoded) {
    char *exact = strdup(c[0]);
    EXPECT_EQ(take(url_decode(exact)), c[1]) << c[0];
    free(exact);
  }
  EXPECT_EQ(take(dequote_text("a\\\\b\\\"c\"d\\")), "a\\b\"cd");
  EXPECT_EQ(take(dequote("ab\"cd", 4, '\\', '"')), "abc");  // n bytes only
}

TEST(Text, SplitCommandAndPathLines) {
  // Raw coding keeps quotes and escapes; quoted and escaped spaces do not
  // split; an escaped quote opens no quote; an open one runs on; blanks give
  // an empty block, nothing gives none. A path keeps a trailing empty word
  // but not one made by an escaped separator, which loses its backslash;
  // quotes are ordinary; decoding comes last.
  const char *raw[][2] = {{"  set  a=1 ", "[set][a=1]"},
                          {"a\\ b c", "[a\\ b][c]"},
                          {"a\\\\ b", "[a\\\\][b]"},
                          {"a\\\"b c", "[a\\\"b][c]"},
                          {"a \"b\\\" c", "[a][\"b\\\" c]"},
                          {"   ", ""},
                          {"", "<null>"}};
  const char *paths[][2] = {
      {"a/b/", "[a][b][]"}, {"/", "[]"},
      {"//a", "[a]"},       {"a\\/b/\"c\"", "[a/b][\"c\"]"},
      {"a\\/", "[a/]"},     {"a%5C/b", "[a\\][b]"}};
  for (const auto &c : raw) {
    char **words = nullptr;
    int n =
        split_words(c[0], strlen(c[0]), &words, ' ', '"', '\\', 0, WORD_RAW);
    EXPECT_EQ(joined(words, n), c[1]) << c[0];
  }
  for (const auto &c : paths) {
    char **words = nullptr;
    int n = split_path_line(c[0], &words);
    EXPECT_EQ(joined(words, n), c[1]) << c[0];
  }
}

TEST(Text, FindUnescapedAndSplitLast) {
  const char *t = "/a\\/b=c";
  EXPECT_EQ(find_unescaped(t, "/"), t);
  EXPECT_EQ(find_unescaped(t + 1, "/="), t + 5);
  EXPECT_EQ(find_unescaped("a\\\\/b", "/"), nullptr);  // one character back
  const char *split[][3] = {{"/a/b", "/a", "b"},
                            {"/a", "", "a"},
                            {"a/", "a", ""},
                            {"/a/b\\/c", "/a", "b\\/c"},
                            {"a\\//b", "a\\/", "b"}};
  for (const auto &c : split) {
    char *path = cli_strdup(c[0]), *last = nullptr;
    EXPECT_EQ(split_last_component(&path, &last), 0);
    EXPECT_EQ(take(path) + "|" + take(last), std::string(c[1]) + "|" + c[2]);
  }
  // Without a cut the block itself moves over to last.
  char *path = cli_strdup("a\\/b"), *block = path, *last = nullptr;
  EXPECT_EQ(split_last_component(&path, &last), 0);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(last, block);
  cli_free(last);
}

}  // namespace
