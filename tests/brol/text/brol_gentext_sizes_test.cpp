// The heap printf's block/size pair as callers may hand it over: a block whose recorded size is
// negative counts as having no room, so the text is never written into it beyond its real size.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brol/platform/brol_alloc.h"
#include "brol/text/brol_gentext.h"

namespace {

TEST(BrolGentextSizes, ANegativeSizeMeansNoRoom) {
  const std::string long_text(100, 'x');
  for (const std::int64_t recorded : {std::int64_t{-1}, std::int64_t{-100}, INT64_MIN}) {
    for (const bool formatted : {false, true}) {
      SCOPED_TRACE(std::to_string(recorded) + (formatted ? " formatted" : " plain"));
      char* block = static_cast<char*>(brol_alloc(4));  // really 4 bytes: ASan sees any write past them
      ASSERT_NE(block, nullptr);
      std::int64_t size = recorded;
      const int result = formatted ? brol_printf_alloc(&block, &size, "%s!", long_text.c_str())
                                   : brol_printf_alloc(&block, &size, "plain text longer than four bytes");
      ASSERT_EQ(result, 1);
      EXPECT_EQ(std::string(block), formatted ? long_text + "!" : "plain text longer than four bytes");
      EXPECT_GT(size, static_cast<std::int64_t>(std::string(block).size()));
      brol_free(block);
    }
  }
}

}  // namespace
