// Field and token extraction against a model written from the contracts: take_fields (a delim right
// after the escape byte does not separate), take_token (any byte of a set separates) and keep_field
// (the own text reduced in place). Results and texts are compared after every call, with the source
// given as a separate text, as null, or pointing into the string's own text; a refused call must
// leave the string as it was.
#include <cstring>
#include <string>
#include <vector>

#include "brol/string/brol_string.h"
#include "fuzz_check.h"

namespace {

// Positions of the bytes of s that separate.
template <class Cut>
std::vector<std::size_t> cuts_of(const std::string& s, Cut is_cut) {
  std::vector<std::size_t> cuts;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (is_cut(i)) cuts.push_back(i);
  }
  return cuts;
}

// Fields first .. first + count - 1 of s (count <= 0 or too few fields: everything from first), or
// false when s has fewer than first separating bytes.
bool model_run(const std::string& s, const std::vector<std::size_t>& cuts, long first, long count, std::string* out) {
  if (first < 0 || static_cast<std::size_t>(first) > cuts.size()) return false;
  const std::size_t start = first == 0 ? 0 : cuts[static_cast<std::size_t>(first) - 1] + 1;
  const std::size_t end_index = static_cast<std::size_t>(first) + static_cast<std::size_t>(count) - 1;
  const std::size_t end = count > 0 && end_index < cuts.size() ? cuts[end_index] : s.size();
  *out = s.substr(start, end - start);
  return true;
}

std::string text_of(const brol_string& s) { return s.text != nullptr ? std::string(s.text) : std::string(); }

// A 16-bit count: mostly small, now and then negative or large.
std::int16_t count(fuzz::input& in) {
  const std::uint8_t b = in.byte();
  if (b < 200) return static_cast<std::int16_t>(b % 8);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(in.byte() << 8 | in.byte()));
}

// A byte from a small alphabet, so that delims, escapes and texts meet.
char small_byte(fuzz::input& in) {
  static constexpr char k_bytes[] = ",;\\ ab\t\x80\xFF";
  return k_bytes[in.below(sizeof k_bytes)];  // the last one is the NUL
}

std::string small_text(fuzz::input& in, std::size_t max) {
  std::string s;
  for (std::size_t n = in.below(max + 1); n > 0 && !in.empty(); --n) {
    const char c = small_byte(in);
    if (c != '\0') s.push_back(c);
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::input in(data, size);
  brol_string s;
  s.init();
  while (!in.empty()) {
    const int op = in.byte() % 3;
    const int source_kind = in.byte() % 3;  // 0 a separate text, 1 null, 2 inside the own text
    std::string own = small_text(in, 24);
    if (!s.assign(own.c_str()).text) own.clear();
    std::string src = source_kind == 0 ? small_text(in, 24) : std::string();
    const char* src_pointer = src.c_str();
    if (source_kind == 1) src_pointer = nullptr;
    if (source_kind == 2) {
      const std::size_t offset = own.empty() ? 0 : in.below(own.size() + 1);
      src = own.substr(offset);
      src_pointer = s.text != nullptr ? s.text + offset : nullptr;
    }
    const std::string before = text_of(s);
    std::string expected;
    bool model_ok = false;
    bool ok = false;
    if (op == 0) {
      const std::int16_t first = count(in), last = count(in);
      const char delim = small_byte(in), escape = small_byte(in);
      const auto cuts = cuts_of(src, [&](std::size_t i) {
        return src[i] == delim && !(escape != '\0' && i > 0 && src[i - 1] == escape);
      });
      model_ok = model_run(src, cuts, first, static_cast<long>(last) - first, &expected);
      ok = s.take_fields(src_pointer, first, last, delim, escape);
    } else if (op == 1) {
      const std::int16_t n = count(in);
      const std::string separators = small_text(in, 4);
      const auto cuts = cuts_of(src, [&](std::size_t i) { return separators.find(src[i]) != std::string::npos; });
      model_ok = model_run(src, cuts, n, 1, &expected);
      ok = s.take_token(src_pointer, n, separators.c_str());
    } else {
      const std::int16_t n = count(in);
      const char delim = small_byte(in);
      const auto cuts = cuts_of(own, [&](std::size_t i) { return own[i] == delim; });
      model_ok = !own.empty() && n >= 0 && model_run(own, cuts, n, 1, &expected);
      // Too few delims empty the text; an empty text or a negative n leaves it.
      if (!model_ok && !own.empty() && n >= 0) expected.clear(); else if (!model_ok) expected = before;
      ok = s.keep_field(n, delim);
      FUZZ_CHECK(ok == model_ok && text_of(s) == expected);
      continue;
    }
    FUZZ_CHECK(ok == model_ok);
    FUZZ_CHECK(s.error == 0);
    FUZZ_CHECK(text_of(s) == (ok ? expected : before));
    FUZZ_CHECK(!ok || s.length() == static_cast<std::int64_t>(expected.size()));
  }
  s.destroy();
  return 0;
}
