// UTF-8 and ISO 8859-15 conversion, take_quoted, take_between and the split operations of the string.
// from_utf8 against a decoder written from its contract (overlong forms and surrogates refused),
// to_utf8 against iconv and the round trip; take_between and split against models; every
// take_ operation gives the same with its source inside the own text as with a copy; and the same
// operations once more with one allocation failed, which must leave the documented state.
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include "brol/platform/brol_alloc.h"
#include "brol/string/brol_string.h"
#include "brol/string/brol_string_array.h"
#include "fuzz_check.h"

namespace {

// The ISO 8859-15 byte of a code point, or -1 for none.
int latin9(std::uint32_t cp) {
  static const std::uint32_t moved[][2] = {{0x20AC, 0xA4}, {0x160, 0xA6}, {0x161, 0xA8}, {0x17D, 0xB4},
                                           {0x17E, 0xB8},  {0x152, 0xBC}, {0x153, 0xBD}, {0x178, 0xBE}};
  for (const auto& m : moved) {
    if (cp == m[0]) return static_cast<int>(m[1]);
    if (cp == m[1]) return -1;
  }
  return cp < 0x100 ? static_cast<int>(cp) : -1;
}

std::string from_utf8_model(const std::string& s) {
  std::string out;
  const auto* b = reinterpret_cast<const unsigned char*>(s.c_str());
  for (std::size_t i = 0; b[i] != 0; ++i) {
    const unsigned lead = b[i];
    const std::size_t n = lead < 0x80                   ? 0
                          : lead >= 0xC0 && lead < 0xE0 ? 1
                          : lead >= 0xE0 && lead < 0xF0 ? 2
                          : lead >= 0xF0 && lead < 0xF8 ? 3
                                                        : 9;
    if (n == 9) continue;
    std::uint32_t cp = n == 0 ? lead : lead & (0x3FU >> n);
    std::size_t k = 1;
    for (; k <= n && (b[i + k] & 0xC0) == 0x80; ++k) cp = cp << 6 | (b[i + k] & 0x3FU);
    static const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (k <= n || cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
    if (latin9(cp) >= 0) out.push_back(static_cast<char>(latin9(cp)));
    i += n;
  }
  return out;
}

std::string iconv_to_utf8(const std::string& s) {
  iconv_t cd = iconv_open("UTF-8", "ISO-8859-15");
  FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1));
  std::string out(s.size() * 3 + 1, '\0');
  char* in = const_cast<char*>(s.data());
  char* o = out.data();
  std::size_t in_left = s.size(), out_left = out.size();
  FUZZ_CHECK(iconv(cd, &in, &in_left, &o, &out_left) != static_cast<std::size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

void check_charsets(const std::string& text) {
  brol_string s;
  s.init();
  FUZZ_CHECK(s.from_utf8(text.c_str()) && s.c_str() == from_utf8_model(text));
  FUZZ_CHECK(s.from_utf8(s.text) && s.c_str() == from_utf8_model(from_utf8_model(text)));  // own text
  FUZZ_CHECK(s.to_utf8(text.c_str()) && s.c_str() == iconv_to_utf8(text));
  FUZZ_CHECK(s.from_utf8(s.text) && s.c_str() == text);  // the round trip, through the own text
  s.destroy();
}

// take_between as its contract says: the first open in the first max bytes, then the close before
// any LF or the end; otherwise the empty text and 0.
std::int64_t between_model(const std::string& src, std::int64_t max, char open, char close, std::string* out) {
  const std::int64_t limit = max > 0 ? max : static_cast<std::int64_t>(src.size());
  std::int64_t i = 0;
  while (i < limit && src.c_str()[i] != '\0' && src[static_cast<std::size_t>(i)] != open) ++i;
  std::int64_t j = i + 1;
  out->clear();
  if (i >= limit || src.c_str()[i] == '\0') return 0;
  for (; j < limit && src.c_str()[j] != '\0'; ++j) {
    if (src[static_cast<std::size_t>(j)] == close) {
      *out = src.substr(static_cast<std::size_t>(i + 1), static_cast<std::size_t>(j - i - 1));
      return j + 1;
    }
    if (src[static_cast<std::size_t>(j)] == '\n') break;  // a close of LF is found before this
  }
  return 0;
}

std::vector<std::string> split_model(const std::string& src, const std::string& separators) {
  std::vector<std::string> pieces(1);
  for (const char c : src) {
    if (separators.find(c) != std::string::npos) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(c);
    }
  }
  return pieces;
}

// take_quoted as its contract says: the position of the closing quote and the unescaped content, or
// the position where the search stopped and the empty text.
std::int64_t quoted_model(const std::string& source, std::int64_t max, char quote, std::string* out) {
  const char* src = source.c_str();
  const std::int64_t len = static_cast<std::int64_t>(std::strlen(src));
  max = max <= 0 || max > len ? len : max;
  std::int64_t i = 0;
  while (i < max && (quote != '\0' ? src[i] != quote : src[i] == ' ' || src[i] == '\t')) ++i;
  if (quote == '\0' && i < max) quote = src[i];
  out->clear();
  static const std::string letters = "abfnrtv", bytes = "\a\b\f\n\r\t\v";
  for (++i; i < max && src[i] != quote; ++i) {
    if (src[i] != '\\') {
      out->push_back(src[i]);
      continue;
    }
    if (i + 1 >= max) {
      out->clear();
      return i;  // a backslash in the last byte looked at
    }
    const char e = src[++i];
    if (letters.find(e) != std::string::npos) {
      out->push_back(bytes[letters.find(e)]);
    } else if (e == '\\' || e == quote) {
      out->push_back(e);
    } else if (e != '\n') {
      out->append({'\\', e});
    }
  }
  if (i < max) return i;
  out->clear();
  return i > max ? max : i;
}

struct take_result {
  std::int64_t position;
  std::string text;
  std::int16_t error;
};

// One take_ operation on a fresh string holding `before`, with src from a copy or from the own text.
// With fail_at > 0 that allocation of the operation itself fails.
template <class Take>
take_result take(const std::string& before, const std::string& src, bool own, Take op, std::int64_t fail_at = 0) {
  brol_string s;
  s.init_from(before.c_str());
  if (own) s.append(src.c_str());
  brol_alloc_fail_at(fail_at);
  const std::int64_t position = op(s, own ? s.text + before.size() : src.c_str());
  brol_alloc_fail_at(0);
  take_result r{position, s.c_str(), s.error};
  s.destroy();
  return r;
}

void check_takes(const std::string& before, const std::string& src, std::int64_t max, char a, char b) {
  const auto quoted = [&](brol_string& s, const char* p) { return s.take_quoted(p, max, a); };
  const auto between = [&](brol_string& s, const char* p) { return s.take_between(p, max, a, b); };
  const take_result q = take(before, src, false, quoted), q_own = take(before, src, true, quoted);
  FUZZ_CHECK(q.position == q_own.position && q.text == q_own.text && q.error == 0);
  std::string expected;
  FUZZ_CHECK(q.position == quoted_model(src, max, a, &expected) && q.text == expected);
  const std::int64_t position = between_model(src, max, a, b, &expected);
  const take_result t = take(before, src, false, between), t_own = take(before, src, true, between);
  FUZZ_CHECK(t.position == position && t.text == expected && t_own.position == position && t_own.text == expected);
  // One allocation failed: take_quoted and take_between leave the empty text with error 1.
  for (std::int64_t n = 1; n <= 2; ++n) {
    const take_result qf = take(before, src, false, quoted, n), tf = take(before, src, false, between, n);
    FUZZ_CHECK(qf.error == 0 ? qf.text == q.text && qf.position == q.position : qf.text.empty());
    FUZZ_CHECK(tf.error == 0 ? tf.text == t.text && tf.position == t.position : tf.text.empty() && tf.position == 0);
  }
}

void check_split(const std::string& src, const std::string& separators, std::int64_t fail_at) {
  const std::vector<std::string> expected = split_model(src.c_str(), separators.c_str());
  brol_string_array array;
  array.init(1);
  brol_alloc_fail_at(fail_at);
  const bool ok = separators.size() == 1 ? brol_split(src.c_str(), array, separators[0])
                                         : brol_split_any(src.c_str(), array, separators.c_str());
  brol_alloc_fail_at(0);
  FUZZ_CHECK(ok ? array.size() == static_cast<std::int32_t>(expected.size()) : fail_at > 0);
  FUZZ_CHECK(array.size() <= static_cast<std::int32_t>(expected.size()));
  for (std::int32_t i = 0; i < array.size(); ++i) {
    const bool whole = array.begin[i].c_str() == expected[static_cast<std::size_t>(i)];
    // Only the last element of a failed split may be empty with its error set.
    FUZZ_CHECK(whole || (!ok && i == array.size() - 1 && array.begin[i].error == 1 && array.begin[i].is_empty()));
  }
  array.destroy();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  const std::uint8_t mode = in.byte();
  const std::int64_t max = static_cast<std::int64_t>(in.byte()) - 4;
  const char a = static_cast<char>(in.byte()), b = static_cast<char>(in.byte());
  const std::string before = in.text(8).c_str();
  const std::string text = in.rest().c_str();
  switch (mode % 3) {
    case 0:
      check_charsets(text);
      break;
    case 1:
      check_takes(before, text, max, a, b);
      break;
    default:
      check_split(text, before.empty() ? std::string(1, a) : before, mode / 3 % 8);
  }
  return 0;
}
