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

constexpr unsigned k_euro = 0x20AC;

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

// The two-byte UTF-8 form of every byte from 0x80, the lead byte in the low half; 0 for the euro
// sign, which takes three.
constexpr std::array<unsigned short, 128> make_utf8_table() {
  std::array<unsigned short, 128> t{};
  for (unsigned b = 0x80; b < 0x100; ++b) {
    const unsigned cp = code_point_of(static_cast<unsigned char>(b));
    if (cp < 0x800) t[b - 0x80] = static_cast<unsigned short>((0xC0 | cp >> 6) | (0x80 | (cp & 0x3F)) << 8);
  }
  return t;
}
constexpr std::array<unsigned short, 128> k_utf8_of = make_utf8_table();

constexpr std::uint64_t k_high_bits = 0x8080808080808080u;

std::uint64_t load8(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The ISO 8859-15 byte of the UTF-8 sequence at in (n bytes readable), 0 when it yields nothing, and
// in *used the bytes to step over. A sequence that yields nothing is stepped over one byte at a time:
// its continuation bytes then yield nothing on their own, which keeps every byte position examined.
unsigned char decode(const unsigned char* in, std::int64_t n, std::int64_t* used) {
  *used = 1;
  const unsigned char lead = in[0];
  if (lead >= 0xC2 && lead < 0xE0 && n >= 2 && is_continuation(in[1])) {
    *used = 2;
    return k_byte_of[(lead & 0x1Fu) << 6 | (in[1] & 0x3Fu)];
  }
  // Of the three-byte forms only the euro sign has a place; every other one yields nothing, so its
  // bytes may be passed over one at a time. Four-byte forms never have a place.
  if (lead == 0xE2 && n >= 3 && in[1] == 0x82 && in[2] == 0xAC) {
    *used = 3;
    return 0xA4;
  }
  return 0;
}

// Converts the n bytes of UTF-8 at in to ISO 8859-15 at out and returns the output length. out may
// equal in or lie below it: each step reads its bytes before it writes one at or below them.
std::int64_t utf8_to_latin9(unsigned char* out, const unsigned char* in, std::int64_t n) {
  std::int64_t o = 0;
  std::int64_t i = 0;
  while (i < n) {
    // Runs of 7-bit text go eight bytes at a time; a load completes before its store, so the copy
    // is right even where out and in overlap.
    while (i + 8 <= n) {
      const std::uint64_t w = load8(in + i);
      if ((w & k_high_bits) != 0) break;
      std::memcpy(out + o, &w, 8);
      o += 8;
      i += 8;
    }
    if (i >= n) break;
    if (in[i] < 0x80) {
      out[o++] = in[i++];
      continue;
    }
    std::int64_t used = 1;
    const unsigned char byte = decode(in + i, n - i, &used);
    out[o] = byte;
    o += byte != 0;
    i += used;
  }
  return o;
}

// Bytes above 0x7F among the n at in.
std::int64_t count_high(const unsigned char* in, std::int64_t n) {
  std::int64_t count = 0;
  std::int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    count += std::popcount(load8(in + i) & k_high_bits);
  }
  for (; i < n; ++i) count += in[i] >> 7;
  return count;
}

// Converts the n bytes of ISO 8859-15 at in to UTF-8 at out (which must not overlap in) and returns
// the output length.
std::int64_t latin9_to_utf8(unsigned char* out, const unsigned char* in, std::int64_t n) {
  std::int64_t o = 0;
  std::int64_t i = 0;
  while (i < n) {
    while (i + 8 <= n) {
      const std::uint64_t w = load8(in + i);
      if ((w & k_high_bits) != 0) break;
      std::memcpy(out + o, &w, 8);
      o += 8;
      i += 8;
    }
    for (; i < n && in[i] < 0x80; ++i) out[o++] = in[i];
    for (; i < n && in[i] >= 0x80; ++i) {
      const unsigned short pair = k_utf8_of[in[i] - 0x80];
      if (pair != 0) {
        out[o++] = static_cast<unsigned char>(pair & 0xFF);
        out[o++] = static_cast<unsigned char>(pair >> 8);
      } else {
        out[o++] = static_cast<unsigned char>(0xE0 | k_euro >> 12);
        out[o++] = static_cast<unsigned char>(0x80 | (k_euro >> 6 & 0x3F));
        out[o++] = static_cast<unsigned char>(0x80 | (k_euro & 0x3F));
      }
    }
  }
  return o;
}

const unsigned char* bytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

}  // namespace

bool brol_string::from_utf8(const char* src) noexcept {
  if (!src || !*src) {
    if (text) text[0] = '\0';
    return true;
  }
  const auto n = static_cast<std::int64_t>(std::strlen(src));
  // A source in the own text is converted where it stands: the output never outgrows it.
  if (!owns(src) && !reserve_discard(n)) return false;
  auto* out = reinterpret_cast<unsigned char*>(text);
  out[utf8_to_latin9(out, bytes(src), n)] = '\0';
  return true;
}

bool brol_string::to_utf8(const char* src) noexcept {
  if (!src || !*src) {
    if (text) text[0] = '\0';
    return true;
  }
  const auto n = static_cast<std::int64_t>(std::strlen(src));
  const std::int64_t room = n + 2 * count_high(bytes(src), n);
  if (!owns(src)) {
    if (!reserve_discard(room)) return false;
    auto* out = reinterpret_cast<unsigned char*>(text);
    out[latin9_to_utf8(out, bytes(src), n)] = '\0';
    return true;
  }
  // The output outgrows a source in the own text, so it goes to a fresh buffer that replaces the old
  // one only once it is complete.
  const std::int64_t size = block_size(room + 1);
  auto* fresh = size > 0 ? static_cast<unsigned char*>(brol_alloc(size)) : nullptr;
  if (!fresh) {
    error = 1;
    return false;
  }
  fresh[latin9_to_utf8(fresh, bytes(src), n)] = '\0';
  brol_free(text);
  text = reinterpret_cast<char*>(fresh);
  capacity = size;
  return true;
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
