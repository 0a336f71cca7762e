// The item-list engine over lists built from the fuzzer's bytes. On every list: the text cut at each
// buffer size is the start of the whole text, nothing is written past size (buffers of exactly size
// bytes on the heap, so AddressSanitizer sees any overrun), the result is the same at every size.
// Lists made only of printf-expressible pieces are compared with snprintf as well.
#include <cinttypes>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brol/format/brol_format.h"
#include "fuzz_check.h"

namespace {

// Everything a list points at lives here until the list is done; each block ends in 16 NULs so that
// an address taken as a literal text still ends inside it.
struct list_builder {
  std::vector<brol_item> items;
  std::vector<std::unique_ptr<char[]>> blocks;
  std::string reference;    // snprintf's text of the list so far
  bool expressible = true;  // every piece so far has a printf equivalent

  brol_item block(const std::string& bytes) {
    blocks.push_back(std::make_unique<char[]>(bytes.size() + 16));
    std::memset(blocks.back().get(), 0, bytes.size() + 16);
    std::memcpy(blocks.back().get(), bytes.data(), bytes.size());
    return reinterpret_cast<std::uintptr_t>(blocks.back().get());
  }
  void add(std::initializer_list<brol_item> list) { items.insert(items.end(), list); }
  template <class... Args>
  void expect(const char* format, Args... args) {
    char piece[1024];
    const int n = std::snprintf(piece, sizeof piece, format, args...);
    reference.append(piece, static_cast<std::size_t>(n));
  }
};

// Width and alignment that printf also knows: none, right (%*) or left (%-*).
struct layout {
  int align;  // 0 none, 1 left, 3 right
  int width;
};
layout take_layout(fuzz::input& in, list_builder& b) {
  const std::uint8_t v = in.byte();
  const layout l{v % 3 == 0 ? 0 : v % 3 == 1 ? 1 : 3, (v / 3) % 40};
  if (l.align != 0) b.add({l.align == 1 ? brol_fmt_left : brol_fmt_right, static_cast<brol_item>(l.width)});
  return l;
}
int printf_width(layout l) { return l.align == 0 ? 0 : l.align == 1 ? -l.width : l.width; }

void add_literal(fuzz::input& in, list_builder& b) {
  const layout l = take_layout(in, b);
  const std::string text = in.text(24).c_str();
  const int max = in.byte() % 32;
  if (max != 0) b.add({brol_fmt_maxlen, static_cast<brol_item>(max)});
  b.add({b.block(text)});
  b.expect("%*.*s", printf_width(l), max == 0 ? 1000 : max, text.c_str());
}

void add_integer(fuzz::input& in, list_builder& b) {
  const layout l = take_layout(in, b);
  const std::uint8_t how = in.byte();
  const std::int64_t value = static_cast<std::int64_t>(in.u64()) >> (how & 63);
  const int digits = 1 + (how >> 6) * 7;
  const bool plus = in.byte() & 1;
  if (digits != 1) b.add({brol_fmt_digits, static_cast<brol_item>(digits)});
  if (plus) b.add({brol_fmt_plus});
  b.add({brol_fmt_int, 8, static_cast<brol_item>(value)});
  b.expect(plus ? "%+*.*" PRId64 : "%*.*" PRId64, printf_width(l), digits, value);
}

void add_unsigned(fuzz::input& in, list_builder& b) {
  const layout l = take_layout(in, b);
  const std::uint8_t how = in.byte();
  const std::uint64_t value = in.u64() >> (how & 63);
  const int size = 1 << ((how >> 6) & 3);  // 1, 2, 4, 8: the value is cut to that many bytes
  const std::uint64_t cut = size == 8 ? value : value & ((1ULL << (8 * size)) - 1);
  static const char* const formats[] = {"%*" PRIu64, "%*" PRIx64, "%*" PRIX64, "%*" PRIo64};
  const int kind = in.byte() % 4;
  const brol_item base = kind == 0 ? 10 : kind == 3 ? 8 : 16;
  if (base != 10) b.add({brol_fmt_base, base});
  if (kind == 1) b.add({brol_fmt_lower});
  b.add({brol_fmt_uint, static_cast<brol_item>(size), value});
  b.expect(formats[kind], printf_width(l), cut);
}

// Any item the engine knows (and a few it must pass over), with parameters from the input; every
// address points at a block of the builder.
void add_any(fuzz::input& in, list_builder& b) {
  b.expressible = false;
  static const brol_item codes[] = {1,    2,    3,    4,    5,    6,    7,    8,    9,    1023, 1024,
                                    1025, 1026, 1027, 1028, 1029, 1030, 1032, 1033, 1034, 1035, 1036,
                                    1037, 1040, 2049, 2050, 2052, 2054, 2056, 2064, 3071, 3072, 4095};
  const brol_item code = codes[in.below(std::size(codes))];
  // Parameters are mostly small, sometimes any 64-bit value (negative counts, huge widths).
  auto param = [&in]() { return in.byte() < 240 ? static_cast<brol_item>(in.byte()) : in.u64(); };
  b.add({code});
  if (code == 1 || code == 2) {
    const std::string text = in.text(40);
    b.add({in.byte() < 8 ? 0 : b.block(text), code == 2 ? in.below(text.size() + 1) : param()});
  } else if (code == 3) {
    b.add({in.u64()});
  } else if (code == 4 || code == 5 || code == 6 || code == 7) {
    static const brol_item sizes[] = {1, 2, 4, 8, 16, 3, 0};
    const brol_item size = sizes[in.below(std::size(sizes))];
    b.add({size});
    if (code == 6 && size == 16) {
      b.add({b.block(in.text(16))});  // the bytes of a long double, whatever they hold
    } else if (code >= 6 ? size == 4 || size == 8 : size != 16 && size != 3 && size != 0) {
      b.add({in.u64()});
    }
  } else if (code == 8) {
    b.add({in.byte() & 1 ? 8U : 16U, in.byte() < 8 ? 0 : b.block(in.text(16))});
  } else if (code == 1028 || code == 1033) {
    b.add({param(), param()});
  } else if (code >= 1025 && code <= 1037 && code != 1030 && code != 1031) {
    b.add({code == 1034 && in.byte() < 200 ? 2 + in.below(35) : param()});
  }
}

// The text at every buffer size (all of them up to 300 bytes, then a few) against the whole text.
void check_cuts(const list_builder& b, const std::string& whole, std::int64_t length) {
  const brol_fmt_cursor cursor{b.items.data() + 1, b.items.data() + b.items.size()};
  const std::int64_t last = length + 1 < 300 ? length + 1 : 300;
  for (std::int64_t size = 0; size <= last; ++size) {
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(static_cast<std::size_t>(size > 0 ? size : 1));
    std::memset(buffer.get(), '#', static_cast<std::size_t>(size > 0 ? size : 1));
    FUZZ_CHECK(brol_vformat(size > 0 ? buffer.get() : nullptr, size, b.items[0], cursor) == length);
    if (size > 0) {
      const std::size_t kept = static_cast<std::size_t>(size - 1 < length ? size - 1 : length);
      FUZZ_CHECK(std::memcmp(buffer.get(), whole.data(), kept) == 0 && buffer[kept] == '\0');
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  list_builder b;
  for (int pieces = 0; pieces < 12 && !in.empty(); ++pieces) {
    switch (in.byte() % 5) {
      case 0:
        add_literal(in, b);
        break;
      case 1:
        add_integer(in, b);
        break;
      case 2:
        add_unsigned(in, b);
        break;
      default:
        if (in.byte() < 128) add_any(in, b);
    }
  }
  if (b.items.empty()) return 0;
  b.items.push_back(brol_fmt_end);
  const brol_fmt_cursor cursor{b.items.data() + 1, b.items.data() + b.items.size()};
  const std::int64_t length = brol_vformat(nullptr, 0, b.items[0], cursor);
  FUZZ_CHECK(length >= 0);
  if (length > (1 << 20)) {
    // Huge widths: the cut text must still be a proper prefix; only small sizes are looked at.
    char small[64];
    FUZZ_CHECK(brol_vformat(small, sizeof small, b.items[0], cursor) == length && small[63] == '\0');
    return 0;
  }
  std::string whole(static_cast<std::size_t>(length) + 1, '#');
  FUZZ_CHECK(brol_vformat(whole.data(), length + 1, b.items[0], cursor) == length);
  whole.resize(static_cast<std::size_t>(length));
  if (b.expressible) FUZZ_CHECK(whole == b.reference);
  check_cuts(b, whole, length);
  return 0;
}
