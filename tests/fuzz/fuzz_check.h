// Shared by the fuzz targets: a check that stops the run with a message, a reader of a whole file,
// and a reader of the fuzzer's bytes that hands out small numbers and texts and yields 0 when the bytes run out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// A failed check is a finding: the message goes to stderr and the run aborts, so libFuzzer saves
// the input that caused it.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fuzz {

// The whole content of a file (empty when it cannot be read).
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class input {
 public:
  input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }
  std::uint8_t byte() { return size_ == 0 ? 0 : (--size_, *data_++); }
  std::uint64_t u64() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
      v = v << 8 | byte();
    }
    return v;
  }
  // A number 0..limit - 1 from one byte (two when limit exceeds 256).
  std::size_t below(std::size_t limit) {
    const std::size_t v = limit > 256 ? static_cast<std::size_t>(byte()) << 8 | byte() : byte();
    return limit == 0 ? 0 : v % limit;
  }
  // Up to max bytes: the length comes first, the text follows (shorter when the input ends).
  std::string text(std::size_t max) {
    std::string s;
    for (std::size_t n = below(max + 1); n > 0 && size_ > 0; --n) {
      s.push_back(static_cast<char>(byte()));
    }
    return s;
  }
  // Everything left.
  std::string rest() {
    std::string s(reinterpret_cast<const char*>(data_), size_);
    size_ = 0;
    return s;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace fuzz
