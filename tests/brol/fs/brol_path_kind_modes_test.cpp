// brol_path_kind reads only the type bits of what the system reports: permission bits never change
// the answer, and anything that is neither a regular file nor a directory (device, pipe, link) is 0.
#include <gtest/gtest.h>

#include "brol/fs/brol_mkdir.h"
#include "brol/platform/brol_platform.h"

namespace {

std::uint32_t reported_mode = 0;

bool stat_reporting(const char*, brol_file_status* out) {
  out->size = 0;
  out->mode = reported_mode;
  return true;
}

TEST(BrolPathKindModes, OnlyTheTypeBitsCount) {
  const struct {
    std::uint32_t mode;
    int kind;
  } rows[] = {
      {0x4000, 2}, {0x41ED, 2}, {0x8000, 1}, {0x81A4, 1}, {0x8FFF, 1},  // directories and files, any permissions
      {0x2000, 0}, {0x21B6, 0}, {0x1000, 0}, {0x6000, 0}, {0xA1FF, 0},  // device, pipe, block device, link
      {0xC000, 0}, {0x0000, 0}, {0x0FFF, 0},                            // socket, no type at all
  };
  brol_os.file_stat = stat_reporting;
  for (const auto& r : rows) {
    reported_mode = r.mode;
    EXPECT_EQ(brol_path_kind("anything"), r.kind) << std::hex << r.mode;
  }
  brol_os = brol_platform_defaults();
}

}  // namespace
