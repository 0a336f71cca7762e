// Examples of the API reference's start page: the formatting engine.
#include <cstdint>

#include "brol/format/brol_format.h"
#include "brol/string/brol_string.h"

// [engine]
// A table row: a text left in 8 columns, an integer right in 6, a double with 2 fraction digits.
// The result is the whole length, also when buffer was too small (the text is cut and terminated).
std::int64_t example_format(char* buffer, std::int64_t size, const char* name, std::int32_t count, double share) {
  return brol_format(buffer, size,
                     brol_fmt_left, 8, name,                        // a literal text, padded to 8
                     brol_fmt_right, 6, brol_fmt_int, 4, count,     // a 4-byte signed integer
                     " ", brol_fmt_frac, 2, 2, brol_fmt_float, 8, share);  // a double, 2 digits
}

// The same items appended to a string, which grows as needed.
bool example_append_format(brol_string& out, std::int32_t count) {
  return out.append_format("count=", brol_fmt_int, 4, count);
}
// [engine]
