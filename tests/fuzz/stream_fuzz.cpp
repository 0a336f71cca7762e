// The stream's readers over a file whose system reads are cut into random pieces. Every operation is
// checked against the file's bytes from the position it started at (get_byte, get_bytes, get_block,
// get_line, get_until, the string's read_until), and a sequence without get_block (whose pieces
// depend on the buffer by contract) gives the same results with and without cutting.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "brol/stream/brol_stream.h"
#include "brol/string/brol_string.h"
#include "fuzz_check.h"

namespace {

std::uint64_t cut_state = 0;  // 0: reads go through as asked

// A system read of 1 to size bytes, chosen by a xorshift generator.
std::int32_t cut_read(brol_file_handle file, void* data, std::int32_t size) {
  if (cut_state != 0 && size > 1) {
    cut_state ^= cut_state << 13;
    cut_state ^= cut_state >> 7;
    cut_state ^= cut_state << 17;
    size = 1 + static_cast<std::int32_t>(cut_state % static_cast<std::uint64_t>(size));
  }
  return brol_platform_defaults().file_read(file, data, size);
}

struct step {
  std::uint8_t kind;
  std::uint8_t n;
};

// The line of get_until as its contract says, from the bytes it consumed: the terminator (the last
// consumed byte when it is one) is not stored, nor is CR unless it is a terminator.
std::string expected_line(const std::string& consumed, const std::string& terminators) {
  std::string line;
  for (std::size_t i = 0; i < consumed.size(); ++i) {
    const char c = consumed[i];
    const bool ends = terminators.find(c) != std::string::npos;
    FUZZ_CHECK(!ends || i + 1 == consumed.size());  // nothing is consumed past a terminator
    if (!ends && (c != '\r' || terminators.find('\r') != std::string::npos)) line.push_back(c);
  }
  return line;
}

// Runs one step, checks it against the data and returns what it gave, for the comparison of runs.
std::string run_step(brol_stream& s, const std::string& data, step st) {
  const std::size_t p = static_cast<std::size_t>(s.position);
  const std::string rest = data.substr(p < data.size() ? p : data.size());
  std::string got;
  static const char* const sets[] = {"\n", ";", "\r\n", "a\n"};
  const std::string terminators = sets[st.n % 4];
  switch (st.kind % 6) {
    case 0: {
      const std::uint16_t b = s.get_byte();
      FUZZ_CHECK(rest.empty() ? b == brol_stream_end_of_data : b == static_cast<unsigned char>(rest[0]));
      got = std::to_string(b);
      break;
    }
    case 1: {
      std::string buffer(st.n, '\0');
      const bool was_at_end = s.at_end != 0;
      const bool ok = s.get_bytes(buffer.data(), st.n);
      const std::size_t taken = static_cast<std::size_t>(s.position) - p;
      FUZZ_CHECK(ok == (!was_at_end && rest.size() >= st.n) && taken == (ok ? st.n : was_at_end ? 0 : rest.size()));
      FUZZ_CHECK(buffer.compare(0, taken, rest, 0, taken) == 0);
      got = std::to_string(ok) + buffer.substr(0, taken);
      break;
    }
    case 2: {
      std::int32_t count = 1 + st.n % 50;
      const std::int32_t asked = count;
      const unsigned char* block = s.get_block(&count);
      if (block == nullptr) {
        FUZZ_CHECK(rest.empty() && count == brol_stream_end_of_data);
      } else {
        FUZZ_CHECK(count >= 1 && count <= asked &&
                   rest.compare(0, static_cast<std::size_t>(count), reinterpret_cast<const char*>(block),
                                static_cast<std::size_t>(count)) == 0);
        FUZZ_CHECK(s.position == static_cast<std::int64_t>(p) + count);
      }
      break;
    }
    case 3:
    case 4: {
      const std::int64_t capacity = st.n % 40;
      std::string line(static_cast<std::size_t>(capacity > 0 ? capacity : 1), '#');
      const bool was_at_end = s.at_end != 0;
      const bool ok = st.kind % 6 == 3 ? s.get_line(line.data(), capacity)
                                       : s.get_until(line.data(), capacity, terminators.c_str());
      const std::size_t taken = static_cast<std::size_t>(s.position) - p;
      FUZZ_CHECK(taken <= rest.size() && (capacity < 2 || taken <= static_cast<std::size_t>(capacity) - 1));
      if (capacity >= 2 && !was_at_end) {
        const std::string expected = expected_line(rest.substr(0, taken), st.kind % 6 == 3 ? "\n" : terminators);
        FUZZ_CHECK(std::string(line.c_str()) == std::string(expected.c_str()));  // a NUL read ends the text
        got = std::to_string(ok) + line.c_str();
      }
      break;
    }
    default: {
      brol_string text;
      text.init();
      const std::int64_t r = text.read_until(s, terminators.c_str());
      const std::size_t taken = static_cast<std::size_t>(s.position) - p;
      const std::string consumed = rest.substr(0, taken);
      // The text is what was consumed, less a final terminator or NUL.
      const bool cut =
          !consumed.empty() && (consumed.back() == '\0' || terminators.find(consumed.back()) != std::string::npos);
      FUZZ_CHECK(text.c_str() == consumed.substr(0, cut ? taken - 1 : taken));
      FUZZ_CHECK(r == (cut && consumed.back() != '\0' ? 1 : static_cast<std::int64_t>(text.length())));
      got = std::to_string(r) + text.c_str();
      text.destroy();
    }
  }
  return got;
}

std::vector<std::string> run(const std::string& path, const std::string& data, std::int64_t buffer_size,
                             const std::vector<step>& steps, std::uint64_t cut) {
  cut_state = cut;
  brol_stream s;
  s.init(buffer_size);
  FUZZ_CHECK(s.open(path.c_str(), brol_open_read));
  std::vector<std::string> results;
  for (const step st : steps) results.push_back(run_step(s, data, st));
  s.destroy();
  cut_state = 0;
  return results;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/brol_fuzz_stream_" + std::to_string(getpid());
  static const int removed_at_exit = std::atexit([] { unlink(path.c_str()); });
  (void)removed_at_exit;
  brol_os.file_read = cut_read;
  fuzz::input in(data, size);
  const std::int64_t buffer_size = 1 + in.byte() % 40;
  const std::uint64_t cut = in.u64() | 1;
  std::vector<step> steps(in.below(40));
  bool blocks = false;
  for (step& st : steps) {
    st = {in.byte(), in.byte()};
    blocks = blocks || st.kind % 6 == 2;
  }
  const std::string content = in.rest();
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  const std::vector<std::string> whole = run(path, content, buffer_size, steps, 0);
  const std::vector<std::string> cut_up = run(path, content, buffer_size, steps, cut);
  FUZZ_CHECK(blocks || whole == cut_up);
  return 0;
}
