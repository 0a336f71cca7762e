// The fixture of the tests that copy between streams: a source file and a destination file in one
// temporary folder, each open in a stream of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brol/container/brol_scoped.h"
#include "brol/stream/brol_stream.h"
#include "brol_test_support.h"

namespace brol_test {

struct stream_files {
  temp_dir dir;
  std::string in = dir.file("in");
  std::string out = dir.file("out");
  brol_scoped<brol_stream> source;  // reads in, which holds the data given
  brol_scoped<brol_stream> dest;    // writes out, created empty
  stream_files(const std::string& data, std::int64_t source_size, std::int64_t dest_size)
      : source(source_size), dest(dest_size) {
    write_file(in, data);
    EXPECT_TRUE(source.open(in.c_str(), brol_open_read));
    EXPECT_TRUE(dest.open(out.c_str(), brol_open_write | brol_open_create | brol_open_truncate));
  }
  // Closes dest: what it wrote.
  std::string copied() {
    EXPECT_TRUE(dest.close(false));
    return read_file(out);
  }
};

}  // namespace brol_test
