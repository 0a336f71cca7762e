// brol_string: conversions between UTF-8 and ISO 8859-15, and two tests on a text's bytes.
#include <array>
#include <bit>
#include <cstring>

#include "brol/platform/brol_alloc.h"
#include "brol/string/brol_string.h"

namespace {

using table = std::array<unsigned char, 0x800>;

// The eight places where ISO 8859-15 differs from the code points of the same number.
struct latin9_place {
  unsigned char byte;
  unsigned short code_point;
};
constexpr latin9_place k_places[] = {{0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
                                     {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}};

constexpr unsigned code_point_of(unsigned char byte) {
  for (const latin9_place& p : k_places) {
    if (p.byte == byte) return p.code_point;
  }
  return byte;
}

// The byte for every code point below U+0800 (the euro sign is the only one above), 0 for none.
// Code points below 0x80 are never looked up.
constexpr table make_byte_table() {
  table t{};
  for (unsigned b = 0x80; b < 0x100; ++b) {
    const unsigned cp = code_point_of(static_cast<unsigned char>(b));
    if (cp < 0x800) t[cp] = static_cast<unsigned char>(b);
  }
  return t;
}
constexpr table k_byte_of = make_byte_table();

// The UTF-8 form of every byte from 0x80: two bytes, three for the euro sign. The fourth byte is
// written with the others and then overwritten or left behind the end.
struct utf8_form {
  unsigned char bytes[4];
  std::int64_t length;
};

constexpr std::array<utf8_form, 128> make_utf8_table() {
  std::array<utf8_form, 128> t{};
  for (unsigned b = 0x80; b < 0x100; ++b) {
    const unsigned cp = code_point_of(static_cast<unsigned char>(b));
    utf8_form& f = t[b - 0x80];
    if (cp < 0x800) {
      f = {{static_cast<unsigned char>(0xC0 | cp >> 6), static_cast<unsigned char>(0x80 | (cp & 0x3F)), 0, 0}, 2};
    } else {
      f = {{static_cast<unsigned char>(0xE0 | cp >> 12), static_cast<unsigned char>(0x80 | (cp >> 6 & 0x3F)),
            static_cast<unsigned char>(0x80 | (cp & 0x3F)), 0},
           3};
    }
  }
  return t;
}
constexpr std::array<utf8_form, 128> k_utf8_of = make_utf8_table();

constexpr std::uint64_t k_high_bits = 0x8080808080808080u;

std::uint64_t load8(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Bit j set when byte j of w (in memory order) is above 0x7F.
std::uint64_t high_bits_mask(std::uint64_t w) {
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  // The high bits moved to the bottom of each byte, then gathered into the top byte.
  return ((w & k_high_bits) >> 7) * 0x0102040810204080u >> 56;
}

// Bit j set when byte j of the 64 at in is above 0x7F.
std::uint64_t high_bytes_mask(const unsigned char* in) {
  std::uint64_t mask = 0;
  for (int w = 0; w < 8; ++w) mask |= high_bits_mask(load8(in + 8 * w)) << (8 * w);
  return mask;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Both conversions copy 7-bit bytes and convert each byte above 0x7F on its own; every byte position
// is examined and the positions of the bytes above 0x7F are found 64 at a time, so that no step
// waits for the one before it. The main loop reads up to 16 bytes past a position of its block and
// writes a 7-bit run of up to 16 bytes as one store of 16.
constexpr std::int64_t k_block = 64;
constexpr std::int64_t k_slack = 16 + 2;

// Converts the n bytes at in into out and returns the output length; convert(out, in, left) writes
// what the byte above 0x7F at in yields (left bytes readable from in) and returns its length.
template <class Convert>
std::int64_t convert_bytes(unsigned char* out, const unsigned char* in, std::int64_t n, Convert convert) {
  std::int64_t o = 0;
  std::int64_t run = 0;  // where the 7-bit run not yet copied begins
  std::int64_t block = 0;
  for (; block + k_block + k_slack <= n; block += k_block) {
    for (std::uint64_t mask = high_bytes_mask(in + block); mask != 0; mask &= mask - 1) {
      const std::int64_t at = block + std::countr_zero(mask);
      // A run of up to 16 bytes takes one fixed-size copy, which compiles to a single store.
      std::memcpy(out + o, in + run, 16);
      if (at - run > 16) std::memcpy(out + o + 16, in + run + 16, static_cast<std::size_t>(at - run - 16));
      o += at - run;
      o += convert(out + o, in + at, n - at);
      run = at + 1;
    }
  }
  std::memcpy(out + o, in + run, static_cast<std::size_t>(block - run));
  o += block - run;
  for (std::int64_t i = block; i < n; ++i) {
    if (in[i] < 0x80) {
      out[o++] = in[i];
    } else {
      o += convert(out + o, in + i, n - i);
    }
  }
  return o;
}

// The ISO 8859-15 byte for the byte above 0x7F at in, the lead of a UTF-8 sequence or not (left
// bytes readable): 1 when it yields one, 0 when not. Continuation bytes yield nothing on their own,
// so a well-formed sequence yields exactly one code point, at its lead byte.
std::int64_t latin9_of_utf8(unsigned char* out, const unsigned char* in, std::int64_t left) {
  const unsigned char lead = in[0];
  unsigned char byte = 0;
  // C0 and C1 begin only overlong forms.
  if (lead >= 0xC2 && lead < 0xE0 && left >= 2 && is_continuation(in[1])) {
    byte = k_byte_of[(lead & 0x1Fu) << 6 | (in[1] & 0x3Fu)];
  }
  // Of the three-byte forms only the euro sign has a place (overlong forms and surrogates begin with
  // other bytes); four-byte forms never have one.
  if (lead == 0xE2 && left >= 3 && in[1] == 0x82 && in[2] == 0xAC) byte = 0xA4;
  out[0] = byte;
  return byte != 0;
}

// The UTF-8 form of the byte above 0x7F at in. Four bytes are stored, so out has two bytes of room
// beyond the form.
std::int64_t utf8_of_latin9(unsigned char* out, const unsigned char* in, std::int64_t) {
  const utf8_form& form = k_utf8_of[in[0] - 0x80];
  std::memcpy(out, form.bytes, 4);
  return form.length;
}

// Converts the n bytes of UTF-8 at in to ISO 8859-15 at out, which has room for n + 1 bytes and does
// not overlap in; returns the output length.
std::int64_t utf8_to_latin9(unsigned char* out, const unsigned char* in, std::int64_t n) {
  return convert_bytes(out, in, n, latin9_of_utf8);
}

// Converts the n bytes of ISO 8859-15 at in to UTF-8 at out, which does not overlap in, and returns
// the output length. out has room for three bytes per byte above 0x7F, one per other byte, and two
// more. Every input byte yields at least one output byte, so a store of 16 for the 16 bytes of a run
// and a store of 4 for a form followed by two more input bytes stay inside the output.
std::int64_t latin9_to_utf8(unsigned char* out, const unsigned char* in, std::int64_t n) {
  return convert_bytes(out, in, n, utf8_of_latin9);
}

// Bytes above 0x7F among the n at in.
std::int64_t count_high(const unsigned char* in, std::int64_t n) {
  std::int64_t count = 0;
  std::int64_t i = 0;
  while (i + 8 <= n) {
    // Up to 255 words are summed byte lane by byte lane before a lane could overflow; then the
    // lanes are added up as 16-bit lanes.
    const std::int64_t stop = n - i < 255 * 8 ? n - 7 : i + 255 * 8;
    std::uint64_t lanes = 0;
    for (; i < stop; i += 8) lanes += (load8(in + i) & k_high_bits) >> 7;
    const std::uint64_t pairs = (lanes & 0x00FF00FF00FF00FFu) + (lanes >> 8 & 0x00FF00FF00FF00FFu);
    count += static_cast<std::int64_t>(pairs * 0x0001000100010001u >> 48);
  }
  for (; i < n; ++i) count += in[i] >> 7;
  return count;
}

const unsigned char* bytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// The text of s becomes the conversion of the n bytes at src, with room for `room` characters. A
// source in the own text is converted into a fresh buffer, which replaces the old one once complete.
bool assign_converted(brol_string& s, const char* src, std::int64_t n, std::int64_t room, bool own,
                      std::int64_t (*convert)(unsigned char*, const unsigned char*, std::int64_t)) {
  if (!own) {
    if (!s.reserve_discard(room)) return false;
    s.text[convert(reinterpret_cast<unsigned char*>(s.text), bytes(src), n)] = '\0';
    return true;
  }
  const std::int64_t size = brol_string::block_size(room + 1);
  auto* fresh = size > 0 ? static_cast<unsigned char*>(brol_alloc(size)) : nullptr;
  if (!fresh) {
    s.error = 1;
    return false;
  }
  fresh[convert(fresh, bytes(src), n)] = '\0';
  brol_free(s.text);
  s.text = reinterpret_cast<char*>(fresh);
  s.capacity = size;
  return true;
}

}  // namespace

bool brol_string::from_utf8(const char* src) noexcept {
  if (!src || !*src) {
    if (text) text[0] = '\0';
    return true;
  }
  const auto n = static_cast<std::int64_t>(std::strlen(src));
  return assign_converted(*this, src, n, n, owns(src), utf8_to_latin9);
}

bool brol_string::to_utf8(const char* src) noexcept {
  if (!src || !*src) {
    if (text) text[0] = '\0';
    return true;
  }
  const auto n = static_cast<std::int64_t>(std::strlen(src));
  return assign_converted(*this, src, n, n + 2 * count_high(bytes(src), n), owns(src), latin9_to_utf8);
}

std::int64_t brol_string::utf8_length() const noexcept {
  if (!text) return 0;
  std::int64_t count = 0;
  for (const unsigned char* p = bytes(text); *p; ++p) count += !is_continuation(*p);
  return count;
}

bool brol_string::check_chars(std::uint8_t required, std::uint8_t forbidden) const noexcept {
  if (!text) return true;
  for (const unsigned char* p = bytes(text); *p; ++p) {
    if ((required != 0 && (*p & required) == 0) || (*p & forbidden) != 0) return false;
  }
  return true;
}
