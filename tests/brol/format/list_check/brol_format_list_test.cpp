// Item lists given as arguments, each row of the table one list: row 0 holds correct lists and must
// compile; every other row is one mistaken list that must fail to compile with the message after its
// row number. list_check.cmake compiles the file once per row (-DROW=n) and compares.
#include <cstdint>
#include <string>

#include "brol/format/brol_format.h"
#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"

void lists(brol_string& s, brol_stream& stream, char* b, int id, double d, std::uint32_t u) {
  long double extended = 1.5L;
  const std::int32_t pair32[2] = {7, 2};
  const std::int64_t pair64[2] = {7, 2};
  const char* text = "abc";
  std::string str = "abc";
  (void)s, (void)stream, (void)b, (void)id, (void)d, (void)u, (void)extended, (void)pair32, (void)pair64, (void)text,
      (void)str;
#if ROW == 0  // compiles
  s.append_format(brol_fmt_int, 4, id, brol_fmt_end);
  s.append_format("lines: ", brol_fmt_group, ',', brol_fmt_int, 8, id, "\n");
  stream.write_format("id ", brol_fmt_int, 4, id);
  brol_format(b, 8, brol_fmt_base, 16, brol_fmt_lower, brol_fmt_digits, 8, brol_fmt_uint, 4, u, brol_fmt_end);
  brol_format(b, 8, brol_fmt_frac, 2, 2, brol_fmt_float, 8, d, brol_fmt_float, 4, 0.5f, brol_fmt_float, 16, &extended);
  brol_format(b, 8, brol_fmt_ratio, 8, pair32, brol_fmt_ratio, 16, pair64, brol_fmt_fixed, 4, 98304);
  brol_format(b, 8, brol_fmt_strn, text, 2, brol_fmt_mem, pair32, 4, brol_fmt_char, 'x', brol_fmt_strn, nullptr, 0);
  brol_format(b, 8, brol_fmt_right, 12, brol_fmt_maxlen, 5, brol_fmt_ellipsis, str.c_str(), brol_fmt_again, "x");
  brol_format(b, 8, brol_fmt_column, 8, 4, brol_fmt_group_point, '.' << 8 | ',', brol_fmt_flags(brol_flag_plus), text);
#elif ROW == 1  // a value stands where an item must begin
  s.append_format("n=", 42);
#elif ROW == 2  // a value stands where an item must begin
  s.append_format("x=", 2.5);
#elif ROW == 3  // a value stands where an item must begin
  brol_format(b, 8, brol_fmt_int, 4, id, 7);
#elif ROW == 4  // a conversion or modifier is missing its values at the end of the list
  brol_format(b, 8, "n=", brol_fmt_int, 4);
#elif ROW == 5  // a conversion or modifier is missing its values at the end of the list
  stream.write_format(brol_fmt_column, 8);
#elif ROW == 6  // a conversion or modifier is missing its values (a code stands where its value goes)
  brol_format(b, 8, brol_fmt_right, brol_fmt_int, 4, id);
#elif ROW == 7  // a conversion or modifier is missing its values (a code stands where its value goes)
  s.append_format(brol_fmt_int, 4, brol_fmt_end);
#elif ROW == 8  // a double stands where an integer goes
  brol_format(b, 8, brol_fmt_int, 4, d);
#elif ROW == 9  // a double stands where an integer goes
  s.append_format(brol_fmt_right, 2.5, "x");
#elif ROW == 10  // an integer stands where a double goes
  brol_format(b, 8, brol_fmt_float, 8, id);
#elif ROW == 11  // a long double travels by its address
  brol_format(b, 8, brol_fmt_float, 16, extended);
#elif ROW == 12  // a number stands where a text or other address goes
  brol_format(b, 8, brol_fmt_strn, 5000, 10);
#elif ROW == 13  // a number stands where a text or other address goes
  stream.write_format(brol_fmt_mem, d, 8);
#elif ROW == 14  // a text or other address stands where a number goes
  brol_format(b, 8, brol_fmt_int, 4, "302");
#elif ROW == 15  // a text or other address stands where a number goes
  s.append_format(brol_fmt_char, text);
#elif ROW == 16  // a text or other address stands where a number goes
  brol_format(b, 8, brol_fmt_float, 8, pair32);
#elif ROW == 17  // the address is of the wrong kind
  brol_format(b, 8, brol_fmt_ratio, 8, &d);
#elif ROW == 18  // the address is of the wrong kind
  brol_format(b, 8, brol_fmt_strn, pair32, 4);
#elif ROW == 19  // an object stands where an item must begin
  s.append_format("name: ", str);
#elif ROW == 20  // an object stands where a value goes
  brol_format(b, 8, brol_fmt_strn, str, 3);
#elif ROW == 21  // a pointer that is no text stands where an item must begin
  brol_format(b, 8, pair32);
#elif ROW == 22  // nullptr stands where an item must begin
  brol_format(b, 8, "a", nullptr);
#elif ROW == 23  // items after brol_fmt_end are never read
  brol_format(b, 8, brol_fmt_right, 5, brol_fmt_end, "never read");
#elif ROW == 24  // the code is no conversion, modifier or flag
  brol_format(b, 8, brol_fmt_code<9>{}, "x");
#endif
}
