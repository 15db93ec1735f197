// The size-prefixed allocator and the text helpers built on it. Fuzzing
// (text_words) checks the splitter's invariants; these pin exact results.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "test_util.h"
#include "util/text.h"

namespace {

// Returns the words of an array and releases every block.
strings take_words(char **words, int count) {
  strings out(words, words + count);
  for (int i = 0; i < count; ++i) cli_free(words[i]);
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
  text = cli_strndup("abcd", 3);
  EXPECT_EQ(cli_extend(&text, "de"), 0);
  EXPECT_EQ(take(text), "abcde");
  text = nullptr;
  EXPECT_EQ(cli_extend(&text, "tail"), 0);
  EXPECT_EQ(take(text), "tail");
}

TEST(Alloc, FailedAllocationSaysSoAndKeepsTheOldText) {
  const std::string said = "__cli_malloc failed!";
  char *text = cli_strdup("old"), *last = nullptr, **words = nullptr;
  EXPECT_EQ(failing(1, [&] { EXPECT_FALSE(cli_realloc(text, 100)); }), said);
  EXPECT_EQ(failing(1, [&] { EXPECT_FALSE(cli_realloc(text, -1)); }), said);
  EXPECT_EQ(failing(1, [&] { EXPECT_EQ(cli_extend(&text, "new"), 1); }),
            said + "Argh. Failed to extend a string!\n");
  EXPECT_EQ(failing(1, [&] { EXPECT_FALSE(escape_separators("a/b")); }), said);
  for (int n = 1; n <= 4; ++n)
    failing(n, [&] {
      EXPECT_EQ(split_words("a b c", 5, &words, ' ', '"', '\\', 0, WORD_DECODE),
                0);
    });
  EXPECT_EQ(words, nullptr);  // and nothing leaked
  EXPECT_EQ(take(text), "old");
  text = cli_strdup("/a/b");
  for (int n = 1; n <= 2; ++n)
    failing(n, [&] { EXPECT_EQ(split_last_component(&text, &last), 1); });
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(take(text), "/a/b");
  // Null in must not allocate: the pending failure stays pending.
  cli_alloc_fail_countdown = 1;
  EXPECT_EQ(cli_strdup(nullptr), nullptr);
  EXPECT_EQ(cli_alloc_fail_countdown, 1);
  cli_alloc_fail_countdown = 0;
}

TEST(Text, DecodeDequoteAndPathAppend) {
  EXPECT_EQ(url_decode(nullptr), nullptr);
  EXPECT_EQ(dequote_text(nullptr), nullptr);
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
  // Stops at n and at a zero byte, whichever comes first.
  EXPECT_EQ(take(dequote("ab\"cd", 4, '\\', '"')), "abc");
  EXPECT_EQ(take(dequote("ab\0cd", 5, '\\', '"')), "ab");
  for (const char *start : {"/a/", "/a", "", (const char *)nullptr}) {
    char *text = cli_strdup(start);
    path_append(&text, "x");
    EXPECT_EQ(take(text), start && *start ? "/a/x" : "/x");
  }
}

TEST(Text, SplitCommandAndPathLines) {
  const struct {
    const char *line;
    bool path;
    strings words;
  } cases[] = {
      {"  set  a=1 ", false, {"set", "a=1"}},
      // Raw coding keeps quotes and escapes; quoted and escaped spaces do
      // not split; an escaped quote opens no quote; an open one runs on.
      {"a\\ b c", false, {"a\\ b", "c"}},
      {"a\\\\ b", false, {"a\\\\", "b"}},
      {"a\\\"b c", false, {"a\\\"b", "c"}},
      {"a \"b\\\" c", false, {"a", "\"b\\\" c"}},
      {"a/b/", true, {"a", "b", ""}},
      {"/", true, {""}},
      {"//a", true, {"a"}},
      // An escaped separator stays without its backslash and makes no
      // trailing empty word; quotes are ordinary; decoding comes last.
      {"a\\/b/\"c\"", true, {"a/b", "\"c\""}},
      {"a\\/", true, {"a/"}},
      {"a%5C/b", true, {"a\\", "b"}},
  };
  for (const auto &c : cases) {
    char **words = nullptr;
    int n = c.path ? split_path_line(c.line, &words)
                   : split_words(c.line, strlen(c.line), &words, ' ', '"', '\\',
                                 0, WORD_RAW);
    EXPECT_EQ(take_words(words, n), c.words) << c.line;
  }
  char **words = nullptr;
  EXPECT_EQ(split_words("", 0, &words, ' ', '"', '\\', 1, WORD_RAW), 0);
  EXPECT_EQ(words, nullptr);
  // A non-empty scan without words still hands over an empty block.
  EXPECT_EQ(split_words("   ", 3, &words, ' ', '"', '\\', 0, WORD_RAW), 0);
  EXPECT_NE(words, nullptr);
  cli_free(words);
  int n = split_words("a bc d", 4, &words, ' ', '"', '\\', 0, WORD_RAW);
  EXPECT_EQ(take_words(words, n), (strings{"a", "bc"}));
}

TEST(Text, JoinFindAndSplitLast) {
  char *texts[] = {(char *)"a", nullptr, (char *)"c", (char *)""};
  EXPECT_EQ(join_words(" ", texts, 0), nullptr);
  EXPECT_EQ(take(join_words(", ", texts, 3)), "a, c");
  EXPECT_EQ(take(join_words("-", texts, 4)), "a-c-");
  EXPECT_EQ(take(join_words("-", texts + 1, 2)), "-c");
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
