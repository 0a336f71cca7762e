// The allocation seam: counting, failing the n-th call, persistent failure.
#include "brol/platform/brol_alloc.h"

#include <gtest/gtest.h>

#include "brol_test_support.h"

TEST(BrolAlloc, FailsExactlyTheChosenCall) {
  brol_test::alloc_failure failing(2);
  void* a = brol_alloc(8);
  void* b = brol_alloc(8);
  void* c = brol_alloc(8);
  EXPECT_NE(a, nullptr);
  EXPECT_EQ(b, nullptr);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(brol_test::alloc_failure::calls(), 3);
  brol_free(a);
  brol_free(c);
}

TEST(BrolAlloc, PersistentFailureAndRefusedSizes) {
  {
    brol_test::alloc_failure failing(1, true);
    EXPECT_EQ(brol_alloc(1), nullptr);
    EXPECT_EQ(brol_alloc(1), nullptr);
  }
  EXPECT_EQ(brol_alloc(-1), nullptr);
  void* zero = brol_alloc(0);
  EXPECT_NE(zero, nullptr);
  brol_free(zero);
  brol_free(nullptr);
}
