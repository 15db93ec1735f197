#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include "util/alloc.h"

namespace {

class AllocTest : public ::testing::Test {
 protected:
  void TearDown() override { cli_alloc_fail_countdown = 0; }
};

TEST_F(AllocTest, BlocksAreZeroedAlignedAndDistinct) {
  // Dirty a block and give it back so the next one of that size is likely
  // the same memory: only an explicit zero fill passes then.
  char *dirty = static_cast<char *>(__cli_malloc(24));
  memset(dirty, 'x', 24);
  cli_free(dirty);
  char *block = static_cast<char *>(__cli_malloc(24));
  for (int i = 0; i < 24; ++i) ASSERT_EQ(block[i], 0) << i;
  void *empty[2] = {__cli_malloc(0), __cli_malloc(0)};
  ASSERT_TRUE(empty[0] && empty[1]);
  EXPECT_NE(empty[0], empty[1]);
  // Pointer arrays live in these blocks.
  for (void *p : {empty[0], empty[1], static_cast<void *>(block)})
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(max_align_t), 0u);
  cli_free(empty[0]);
  cli_free(empty[1]);
  cli_free(block);
  cli_free(nullptr);
}

TEST_F(AllocTest, ReallocShrinksGrowsAndStartsFromNull) {
  char *text = static_cast<char *>(cli_realloc(nullptr, 5));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(memcmp(text, "\0\0\0\0\0", 5), 0);
  memcpy(text, "abcde", 5);
  text = static_cast<char *>(cli_realloc(text, 3));
  EXPECT_EQ(memcmp(text, "abc", 3), 0);
  // Growing copies only the three recorded bytes (ASan catches a wider
  // read) and zero-fills the rest.
  text = static_cast<char *>(cli_realloc(text, 40));
  EXPECT_EQ(memcmp(text, "abc", 3), 0);
  for (int i = 3; i < 40; ++i) ASSERT_EQ(text[i], 0) << i;
  cli_free(text);
}

TEST_F(AllocTest, FailedAllocationSaysSoAndKeepsOldBlock) {
  char *text = cli_strdup("keep");
  cli_alloc_fail_countdown = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(cli_realloc(text, 100), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "__cli_malloc failed!");
  testing::internal::CaptureStdout();
  EXPECT_EQ(cli_realloc(text, -1), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "__cli_malloc failed!");
  EXPECT_STREQ(text, "keep");
  cli_free(text);
}

TEST_F(AllocTest, StrndupAndExtend) {
  const char buffer[] = {'a', 'b', 'c', 'd'};  // not terminated
  char *text = cli_strndup(buffer, 3);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(cli_extend(&text, "de"), 0);
  EXPECT_STREQ(text, "abcde");
  cli_free(text);
  text = nullptr;
  EXPECT_EQ(cli_extend(&text, "tail"), 0);
  EXPECT_STREQ(text, "tail");
  cli_free(text);
  // A block larger than its text, with junk behind the terminator: the
  // result must still end right after the tail.
  text = static_cast<char *>(__cli_malloc(16));
  memcpy(text, "xy\0JUNKJUNKJUNK", 16);
  EXPECT_EQ(cli_extend(&text, "z"), 0);
  EXPECT_STREQ(text, "xyz");
  cli_free(text);
  // Null in must not allocate: the pending failure stays pending.
  cli_alloc_fail_countdown = 1;
  EXPECT_EQ(cli_strdup(nullptr), nullptr);
  EXPECT_EQ(cli_strndup(nullptr, 4), nullptr);
  EXPECT_EQ(cli_alloc_fail_countdown, 1);
}

TEST_F(AllocTest, ExtendFailureKeepsTextAndSaysSo) {
  char *text = cli_strdup("old");
  cli_alloc_fail_countdown = 1;
  testing::internal::CaptureStdout();
  EXPECT_EQ(cli_extend(&text, "new"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "__cli_malloc failed!Argh. Failed to extend a string!\n");
  EXPECT_STREQ(text, "old");
  cli_free(text);
}

}  // namespace
