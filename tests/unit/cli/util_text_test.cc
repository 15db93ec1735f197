#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "shell/state.h"
#include "util/alloc.h"
#include "util/text.h"

namespace {

using strings = std::vector<std::string>;

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { cli_reset_records(); }
  void TearDown() override {
    cli_alloc_fail_countdown = 0;
    cli_reset_records();
  }
};

// Returns the words of an array and releases every block.
strings take_words(char **words, int count) {
  strings out(words, words + count);
  for (int i = 0; i < count; ++i) cli_free(words[i]);
  cli_free(words);
  return out;
}

// Splits like the command parser: spaces, quotes and escapes, raw words.
strings command_words(const char *line) {
  char **words = nullptr;
  int n = split_words(line, strlen(line), &words, ' ', '"', '\\', 0, WORD_RAW);
  return take_words(words, n);
}

strings path_words(const char *line) {
  char **words = nullptr;
  int n = split_path_line(line, &words);
  return take_words(words, n);
}

// Returns the text (or "<null>") and releases its block.
std::string take(char *text) {
  std::string out = text ? text : "<null>";
  cli_free(text);
  return out;
}

TEST_F(TextTest, UrlDecode) {
  EXPECT_EQ(take(url_decode("%41+%2e%2F")), "A ./");
  EXPECT_EQ(url_decode(nullptr), nullptr);
  // Non-hex digits count as 0: %zz is a zero byte that ends the text.
  EXPECT_EQ(take(url_decode("ab%zzcd")), "ab");
  // A "%" without two characters behind it is kept; the heap copies are
  // exactly sized so ASan catches a look past the end.
  for (const char *in : {"abc%", "abc%4", "%", "+%4"}) {
    char *exact = strdup(in);
    std::string want = in[0] == '+' ? std::string(" ") + (in + 1) : in;
    EXPECT_EQ(take(url_decode(exact)), want) << in;
    free(exact);
  }
}

TEST_F(TextTest, Dequote) {
  const char *in = "\"a \\\"b\\\" c\"";
  EXPECT_EQ(take(dequote(in, strlen(in), '\\', '"')), "a \"b\" c");
  EXPECT_EQ(take(dequote_text("a\\\\b\\")), "a\\b");
  // Stops at n and at a zero byte, whichever comes first.
  EXPECT_EQ(take(dequote("ab\"cd", 4, '\\', '"')), "abc");
  EXPECT_EQ(take(dequote("ab\0cd", 5, '\\', '"')), "ab");
  EXPECT_EQ(take(dequote("", 0, '\\', '"')), "");
  EXPECT_EQ(dequote_text(nullptr), nullptr);
}

TEST_F(TextTest, SplitCommandLines) {
  EXPECT_EQ(command_words("  set  a=1 "), (strings{"set", "a=1"}));
  // Raw coding keeps quotes and escapes; quoted and escaped spaces do not
  // split, an escaped quote opens no quote, an open quote runs to the end.
  EXPECT_EQ(command_words("set x=\"a b\""), (strings{"set", "x=\"a b\""}));
  EXPECT_EQ(command_words("a\\ b c"), (strings{"a\\ b", "c"}));
  EXPECT_EQ(command_words("a\\\\ b"), (strings{"a\\\\", "b"}));
  EXPECT_EQ(command_words("a\\\"b c"), (strings{"a\\\"b", "c"}));
  EXPECT_EQ(command_words("a \"b\\\" c"), (strings{"a", "\"b\\\" c"}));

  char **words = nullptr;
  EXPECT_EQ(split_words("", 0, &words, ' ', '"', '\\', 1, WORD_RAW), 0);
  EXPECT_EQ(words, nullptr);
  // A non-empty scan without words still hands over an empty block.
  EXPECT_EQ(split_words("   ", 3, &words, ' ', '"', '\\', 0, WORD_RAW), 0);
  EXPECT_NE(words, nullptr);
  cli_free(words);
  words = nullptr;
  const char unterminated[] = {'a', ' ', 'b', 'c', ' ', 'd'};
  int n = split_words(unterminated, 4, &words, ' ', '"', '\\', 0, WORD_RAW);
  EXPECT_EQ(take_words(words, n), (strings{"a", "bc"}));
}

TEST_F(TextTest, SplitPathLines) {
  EXPECT_EQ(path_words("a/b/"), (strings{"a", "b", ""}));
  EXPECT_EQ(path_words("/"), (strings{""}));
  EXPECT_EQ(path_words("//a"), (strings{"a"}));
  EXPECT_EQ(path_words("a%2Eb/c+d"), (strings{"a.b", "c d"}));
  // An escaped separator stays in the word without its backslash and makes
  // no trailing empty word; quotes are ordinary bytes here; decoding comes
  // after escape removal.
  EXPECT_EQ(path_words("a\\/b/\"c\""), (strings{"a/b", "\"c\""}));
  EXPECT_EQ(path_words("a\\/"), (strings{"a/"}));
  EXPECT_EQ(path_words("a%5C/b"), (strings{"a\\", "b"}));
}

TEST_F(TextTest, SplitFailureLeavesArrayPointerAndLeaksNothing) {
  for (int fail_at = 1; fail_at <= 4; ++fail_at) {
    char **words = nullptr;
    cli_alloc_fail_countdown = fail_at;
    testing::internal::CaptureStdout();
    int n = split_words("a b c", 5, &words, ' ', '"', '\\', 0, WORD_DECODE);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(n, 0) << fail_at;
    EXPECT_EQ(words, nullptr) << fail_at;
  }
}

TEST_F(TextTest, JoinWords) {
  char *texts[] = {(char *)"a", nullptr, (char *)"c", (char *)""};
  EXPECT_EQ(join_words(" ", texts, 0), nullptr);
  EXPECT_EQ(take(join_words(", ", texts, 3)), "a, c");
  EXPECT_EQ(take(join_words("-", texts, 4)), "a-c-");
  // A null first entry drops only itself.
  EXPECT_EQ(take(join_words("-", texts + 1, 2)), "-c");
}

TEST_F(TextTest, StrAppendAndPathAppend) {
  char *text = nullptr;
  str_append(&text, "ab");
  str_append(&text, "cd");
  EXPECT_EQ(take(text), "abcd");
  for (const char *start : {"/a/", "/a", "", (const char *)nullptr}) {
    text = cli_strdup(start);
    path_append(&text, "x");
    EXPECT_EQ(take(text), start && *start ? "/a/x" : "/x");
  }
  // Only the separator's first character is compared; all of it is added.
  cli_opts.separator = "::";
  for (const char *start : {"a", "a:"}) {
    text = cli_strdup(start);
    path_append(&text, "x");
    EXPECT_EQ(take(text), start[1] ? "a:x" : "a::x");
  }
  // Out of memory: the old text stays.
  text = cli_strdup("old");
  cli_alloc_fail_countdown = 1;
  testing::internal::CaptureStdout();
  str_append(&text, "new");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(take(text), "old");
}

TEST_F(TextTest, FindUnescaped) {
  const char *t = "/a\\/b=c";
  EXPECT_EQ(find_unescaped(t, "/"), t);
  EXPECT_EQ(find_unescaped(t + 1, "/="), t + 5);
  // Only the one preceding character counts: an escaped backslash still
  // hides the separator.
  EXPECT_EQ(find_unescaped("a\\\\/b", "/"), nullptr);
  EXPECT_EQ(find_unescaped("", "/"), nullptr);
}

TEST_F(TextTest, ReplaceAll) {
  char *text = cli_strdup("abc"), *before = text;
  replace_all(&text, ".", "/");
  EXPECT_EQ(text, before);
  EXPECT_EQ(take(text), "abc");
  struct {
    const char *in, *search, *repl, *want;
  } cases[] = {
      {"a.b.c", ".", "/", "a/b/c"}, {"aaaa", "aa", "b", "bb"},  // adjacent hits
      {"aaa", "aa", "x", "xa"},  // left to right, no overlap
      {"..x..", ".", "", "x"},   // hits at both ends
      {"ab", "ab", "xyz", "xyz"},
  };
  for (const auto &c : cases) {
    text = cli_strdup(c.in);
    replace_all(&text, c.search, c.repl);
    EXPECT_EQ(take(text), c.want) << c.in;
  }
  cli_opts.separator = ":";
  EXPECT_EQ(take(escape_separators("a/b:/")), "a\\/b:\\/");
  cli_alloc_fail_countdown = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(escape_separators("a/b"), nullptr);
  testing::internal::GetCapturedStdout();
}

TEST_F(TextTest, SplitLastComponent) {
  struct {
    const char *in, *path, *last;
  } cases[] = {
      {"/a/b", "/a", "b"},         {"/a", "", "a"},         {"a/", "a", ""},
      {"/a/b\\/c", "/a", "b\\/c"}, {"a\\//b", "a\\/", "b"},
  };
  for (const auto &c : cases) {
    char *path = cli_strdup(c.in), *last = nullptr;
    EXPECT_EQ(split_last_component(&path, &last), 0);
    EXPECT_EQ(take(path), c.path) << c.in;
    EXPECT_EQ(take(last), c.last) << c.in;
  }
  // Without a cut the block itself moves over to last.
  char *path = cli_strdup("a\\/b"), *block = path, *last = nullptr;
  EXPECT_EQ(split_last_component(&path, &last), 0);
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(last, block);
  cli_free(last);
  for (int fail_at = 1; fail_at <= 2; ++fail_at) {
    path = cli_strdup("/a/b");
    cli_alloc_fail_countdown = fail_at;
    testing::internal::CaptureStdout();
    EXPECT_EQ(split_last_component(&path, &last), 1) << fail_at;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(last, nullptr);
    EXPECT_EQ(take(path), "/a/b");
  }
  cli_opts.separator = ":";
  path = cli_strdup("a/b:c");
  EXPECT_EQ(split_last_component(&path, &last), 0);
  EXPECT_EQ(take(path) + "|" + take(last), "a/b|c");
}

}  // namespace
