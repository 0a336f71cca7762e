// The PROXY line: what the tunnel server sends is read to its customer address; anything else is
// refused, and the reader never takes a byte past the line.
#include "technician/technician_proxy.h"

#include <gtest/gtest.h>

namespace {

struct proxy_row {
  const char* line;      // without CR LF
  const char* customer;  // null when refused
};

const proxy_row k_rows[] = {
    {"PROXY TCP4 10.0.0.2 10.0.0.1 40312 443", "10.0.0.2:40312"},
    {"PROXY TCP4 255.255.255.255 0.0.0.0 65535 1", "255.255.255.255:65535"},
    {"PROXY TCP6 fd00::2 fd00::1 40312 443", "[fd00::2]:40312"},
    {"PROXY TCP6 ::ffff:10.0.0.2 ::1 5 443", "[::ffff:10.0.0.2]:5"},
    {"PROXY UNKNOWN", "unknown"},
    {"PROXY UNKNOWN ffff:f...f:ffff ffff:f...f:ffff 65535 65535", "unknown"},
    {"PROXY TCP4 10.0.0.2 10.0.0.1 40312", nullptr},
    {"PROXY TCP4 10.0.0.2 10.0.0.1 40312 443 9", nullptr},
    {"PROXY TCP4 10.0.0.256 10.0.0.1 40312 443", nullptr},
    {"PROXY TCP4 10.0.0 10.0.0.1 40312 443", nullptr},
    {"PROXY TCP4 10.0.0.2. 10.0.0.1 40312 443", nullptr},
    {"PROXY TCP4 fd00::2 10.0.0.1 40312 443", nullptr},
    {"PROXY TCP6 10.0.0.2 fd00::1 40312 443", nullptr},
    {"PROXY TCP6 fd00:::2 fd00::1 40312 443", nullptr},
    {"PROXY TCP6 fd00::2::3 fd00::1 40312 443", nullptr},
    {"PROXY TCP4 10.0.0.2 10.0.0.1 65536 443", nullptr},
    {"PROXY TCP4 10.0.0.2 10.0.0.1 040312 443", nullptr},
    {"PROXY TCP4 10.0.0.2 10.0.0.1 -1 443", nullptr},
    {"PROXY TCP4  10.0.0.2 10.0.0.1 40312 443", nullptr},
    {"PROXY UDP4 10.0.0.2 10.0.0.1 40312 443", nullptr},
    {"proxy TCP4 10.0.0.2 10.0.0.1 40312 443", nullptr},
    {"PROXY", nullptr},
    {"", nullptr},
};

TEST(TechnicianProxy, LinesGiveTheCustomerOrAreRefused) {
  for (const proxy_row& row : k_rows) {
    std::string customer, why;
    const bool good = tech_proxy_parse(row.line, &customer, &why);
    EXPECT_EQ(good, row.customer != nullptr) << row.line << ": " << why;
    if (row.customer != nullptr) {
      EXPECT_EQ(customer, row.customer) << row.line;
    } else {
      EXPECT_FALSE(why.empty()) << row.line;
    }
  }
}

// Feeds text byte by byte; the result of the last byte fed and how many were taken.
std::pair<int, std::size_t> feed(tech_proxy_reader& reader, const std::string& text) {
  int state = 0;
  std::size_t i = 0;
  while (i < text.size() && state == 0) {
    state = reader.add(text[i++]);
  }
  return {state, i};
}

TEST(TechnicianProxy, ReaderStopsAtTheLineEnd) {
  const struct {
    std::string bytes;
    int state;
    std::size_t taken;
    const char* why;
  } rows[] = {
      {"PROXY TCP4 10.0.0.2 10.0.0.1 40312 443\r\nRFB 003.008\n", 1, 40, ""},
      {"PROXY TCP4 10.0.0.2 10.0.0.1 40312 443\nRFB", -1, 39, "the PROXY line does not end with CR LF"},
      {"RFB 003.008\n", -1, 1, "not a PROXY line"},
      {"PROXX", -1, 5, "not a PROXY line"},
      {"PROXY UNKNOWN " + std::string(200, 'x'), -1, 107, "the PROXY line is too long"},
      {"PROXY UNKNOWN " + std::string(91, 'x') + "\r\n", 1, 107, ""},
      {"PROXY TCP4 10.0.0.2", 0, 19, ""},
  };
  for (const auto& row : rows) {
    tech_proxy_reader reader;
    const auto [state, taken] = feed(reader, row.bytes);
    EXPECT_EQ(state, row.state) << row.bytes;
    EXPECT_EQ(taken, row.taken) << row.bytes;
    EXPECT_EQ(reader.why(), row.why) << row.bytes;
    if (state != 0) {
      EXPECT_EQ(reader.add('x'), -1) << "a finished reader takes no more bytes";
    }
  }
}

}  // namespace
