// The formatting engine against snprintf, fmt::format_to_n and std::to_chars: one call per value
// into a buffer, the same values for everyone, the outputs checked equal before timing.
#include <benchmark/benchmark.h>
#include <fmt/compile.h>
#include <fmt/format.h>

#include <charconv>
#include <cinttypes>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <random>
#include <string>
#include <vector>

#include "brol/format/brol_format.h"
#include "brol/format/brol_format_digits.h"

namespace {

constexpr std::size_t k_values = 4096;

// Values of every magnitude: random bit widths, random signs.
template <class T>
std::vector<T> make_values() {
  std::mt19937_64 rng(42);
  std::vector<T> v(k_values);
  for (auto& x : v) {
    const int bits = 1 + static_cast<int>(rng() % (sizeof(T) * 8 - 1));
    x = static_cast<T>(rng() >> (64 - bits));
    if (rng() & 1) x = static_cast<T>(-x);
  }
  return v;
}

const std::vector<std::int32_t>& values32() {
  static const auto v = make_values<std::int32_t>();
  return v;
}
const std::vector<std::int64_t>& values64() {
  static const auto v = make_values<std::int64_t>();
  return v;
}

std::size_t ours(char* buf, std::int32_t v) {
  return static_cast<std::size_t>(brol_format(buf, 32, brol_fmt_int, 4, v, brol_fmt_end));
}
std::size_t ours(char* buf, std::int64_t v) {
  return static_cast<std::size_t>(brol_format(buf, 32, brol_fmt_int, 8, v, brol_fmt_end));
}
std::size_t with_snprintf(char* buf, std::int32_t v) {
  return static_cast<std::size_t>(std::snprintf(buf, 32, "%" PRId32, v));
}
std::size_t with_snprintf(char* buf, std::int64_t v) {
  return static_cast<std::size_t>(std::snprintf(buf, 32, "%" PRId64, v));
}
template <class T>
std::size_t with_fmt(char* buf, T v) {
  const auto r = fmt::format_to_n(buf, 31, "{}", v);
  *r.out = '\0';
  return r.size;
}
template <class T>
std::size_t with_to_chars(char* buf, T v) {
  const auto r = std::to_chars(buf, buf + 31, v);
  *r.ptr = '\0';
  return static_cast<std::size_t>(r.ptr - buf);
}

// The one-integer list's own piece, inline in the caller: what a list planned at compile time can
// call instead of the engine's entry (whose call the plain list pays).
std::size_t ours_inline(char* buf, std::int32_t v) {
  return static_cast<std::size_t>(brol::detail::format_one_integer(buf, 32, true, 4, brol::detail::to_item(v)));
}
std::size_t ours_inline(char* buf, std::int64_t v) {
  return static_cast<std::size_t>(brol::detail::format_one_integer(buf, 32, true, 8, brol::detail::to_item(v)));
}

// fmt's compiled formats: the format string parsed at compile time.
template <class T>
std::size_t with_fmt_compiled(char* buf, T v) {
  const auto r = fmt::format_to_n(buf, 31, FMT_COMPILE("{}"), v);
  *r.out = '\0';
  return r.size;
}

// Every peer must produce our text, or the comparison means nothing.
template <class T>
void check_equal(const std::vector<T>& values) {
  char a[32], b[32], c[32], d[32];
  for (T v : values) {
    ours(a, v);
    with_snprintf(b, v);
    with_fmt(c, v);
    with_to_chars(d, v);
    if (std::strcmp(a, b) != 0 || std::strcmp(a, c) != 0 || std::strcmp(a, d) != 0) {
      std::fprintf(stderr, "outputs differ: %s %s %s %s\n", a, b, c, d);
      std::exit(1);
    }
    with_fmt_compiled(c, v);
    ours_inline(b, v);
    if (std::strcmp(a, c) != 0 || std::strcmp(a, b) != 0) {
      std::fprintf(stderr, "outputs differ: %s %s %s %s\n", a, b, c, d);
      std::exit(1);
    }
  }
}

// Every timed loop hands the buffer to DoNotOptimize after the call: the text is a result as much as
// its length, and a buffer that never escapes lets the compiler drop the stores of a conversion it
// inlines (std::to_chars, our inline piece), timing the length alone.
template <class T, std::size_t (*Format)(char*, T)>
void run(benchmark::State& state, const std::vector<T>& values) {
  char buf[32];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Format(buf, values[i]));
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) % values.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void int32_brol(benchmark::State& s) { run<std::int32_t, ours>(s, values32()); }
void int32_snprintf(benchmark::State& s) { run<std::int32_t, with_snprintf>(s, values32()); }
void int32_fmt(benchmark::State& s) { run<std::int32_t, with_fmt<std::int32_t>>(s, values32()); }
void int32_to_chars(benchmark::State& s) { run<std::int32_t, with_to_chars<std::int32_t>>(s, values32()); }
void int64_brol(benchmark::State& s) { run<std::int64_t, ours>(s, values64()); }
void int64_snprintf(benchmark::State& s) { run<std::int64_t, with_snprintf>(s, values64()); }
void int64_fmt(benchmark::State& s) { run<std::int64_t, with_fmt<std::int64_t>>(s, values64()); }
void int64_to_chars(benchmark::State& s) { run<std::int64_t, with_to_chars<std::int64_t>>(s, values64()); }
void int32_brol_inline(benchmark::State& s) { run<std::int32_t, ours_inline>(s, values32()); }
void int64_brol_inline(benchmark::State& s) { run<std::int64_t, ours_inline>(s, values64()); }
void int32_fmt_compiled(benchmark::State& s) { run<std::int32_t, with_fmt_compiled<std::int32_t>>(s, values32()); }
void int64_fmt_compiled(benchmark::State& s) { run<std::int64_t, with_fmt_compiled<std::int64_t>>(s, values64()); }

// The general path: a right-aligned integer in a field of 12, as "%12d" and "{:12}".
void int32_width_brol(benchmark::State& state) {
  char buf[32];
  std::size_t i = 0;
  const auto& values = values32();
  for (auto _ : state) {
    benchmark::DoNotOptimize(brol_format(buf, 32, brol_fmt_right, 12, brol_fmt_int, 4, values[i], brol_fmt_end));
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) % values.size();
  }
}
void int32_width_snprintf(benchmark::State& state) {
  char buf[32];
  std::size_t i = 0;
  const auto& values = values32();
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(buf, 32, "%12" PRId32, values[i]));
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) % values.size();
  }
}
void int32_width_fmt(benchmark::State& state) {
  char buf[32];
  std::size_t i = 0;
  const auto& values = values32();
  for (auto _ : state) {
    benchmark::DoNotOptimize(fmt::format_to_n(buf, 31, "{:12}", values[i]).size);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) % values.size();
  }
}

BENCHMARK(int32_brol);
BENCHMARK(int32_snprintf);
BENCHMARK(int32_fmt);
BENCHMARK(int32_to_chars);
BENCHMARK(int64_brol);
BENCHMARK(int64_snprintf);
BENCHMARK(int64_fmt);
BENCHMARK(int64_to_chars);
void int32_width_fmt_compiled(benchmark::State& state) {
  char buf[32];
  std::size_t i = 0;
  const auto& values = values32();
  for (auto _ : state) {
    benchmark::DoNotOptimize(fmt::format_to_n(buf, 31, FMT_COMPILE("{:12}"), values[i]).size);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) % values.size();
  }
}

BENCHMARK(int32_brol_inline);
BENCHMARK(int64_brol_inline);
BENCHMARK(int32_fmt_compiled);
BENCHMARK(int64_fmt_compiled);
BENCHMARK(int32_width_brol);
BENCHMARK(int32_width_snprintf);
BENCHMARK(int32_width_fmt);
BENCHMARK(int32_width_fmt_compiled);

// --- Floating-point ---------------------------------------------------------------------------
// Doubles from 1e-3 to 1e7 of either sign, with fraction bits all the way down, four fraction digits:
// ours with brol_fmt_frac 4, 4 (texts checked equal to the peers') and with the default settings
// (1 to 4 fraction digits, trailing zeros dropped; timed against the same peers, texts not compared).

const std::vector<double>& doubles() {
  static const auto v = [] {
    std::mt19937_64 rng(43);
    std::uniform_real_distribution<double> exponent(-3, 7);
    std::vector<double> d(k_values);
    for (auto& x : d) x = std::pow(10.0, exponent(rng)) * ((rng() & 1) ? -1 : 1);
    return d;
  }();
  return v;
}

std::size_t float_brol4(char* buf, double v) {
  return static_cast<std::size_t>(brol_format(buf, 32, brol_fmt_frac, 4, 4, brol_fmt_float, 8, v, brol_fmt_end));
}
std::size_t float_brol_defaults(char* buf, double v) {
  return static_cast<std::size_t>(brol_format(buf, 32, brol_fmt_float, 8, v, brol_fmt_end));
}
std::size_t float_snprintf(char* buf, double v) { return static_cast<std::size_t>(std::snprintf(buf, 32, "%.4f", v)); }
std::size_t float_fmt(char* buf, double v) {
  const auto r = fmt::format_to_n(buf, 31, "{:.4f}", v);
  *r.out = '\0';
  return r.size;
}
std::size_t float_fmt_compiled(char* buf, double v) {
  const auto r = fmt::format_to_n(buf, 31, FMT_COMPILE("{:.4f}"), v);
  *r.out = '\0';
  return r.size;
}
std::size_t float_to_chars(char* buf, double v) {
  const auto r = std::to_chars(buf, buf + 31, v, std::chars_format::fixed, 4);
  *r.ptr = '\0';
  return static_cast<std::size_t>(r.ptr - buf);
}

// The peers round the exact value with ties to even, ours x * 10^4 in extended precision with ties
// away from zero; random doubles are never that close to a tie, and the check proves it for these.
void check_equal_floats() {
  char a[32], b[32], c[32], d[32];
  for (double v : doubles()) {
    float_brol4(a, v);
    float_snprintf(b, v);
    float_fmt(c, v);
    float_to_chars(d, v);
    if (std::strcmp(a, b) != 0 || std::strcmp(a, c) != 0 || std::strcmp(a, d) != 0) {
      std::fprintf(stderr, "outputs differ: %s %s %s %s\n", a, b, c, d);
      std::exit(1);
    }
    float_fmt_compiled(c, v);
    if (std::strcmp(a, c) != 0) {
      std::fprintf(stderr, "outputs differ: %s %s\n", a, c);
      std::exit(1);
    }
  }
}

void double4_brol(benchmark::State& s) { run<double, float_brol4>(s, doubles()); }
void double_defaults_brol(benchmark::State& s) { run<double, float_brol_defaults>(s, doubles()); }
void double4_snprintf(benchmark::State& s) { run<double, float_snprintf>(s, doubles()); }
void double4_fmt(benchmark::State& s) { run<double, float_fmt>(s, doubles()); }
void double4_to_chars(benchmark::State& s) { run<double, float_to_chars>(s, doubles()); }
void double4_fmt_compiled(benchmark::State& s) { run<double, float_fmt_compiled>(s, doubles()); }

BENCHMARK(double4_brol);
BENCHMARK(double_defaults_brol);
BENCHMARK(double4_snprintf);
BENCHMARK(double4_fmt);
BENCHMARK(double4_to_chars);
BENCHMARK(double4_fmt_compiled);

// --- Mixed lists --------------------------------------------------------------------------------
// Lists as programs write them, through the engine's general item loop: (a) a log line with literals,
// an int32, a text right-aligned in 12 and a double with 2 fraction digits; (b) a table row of three
// texts left-aligned in 16, 10 and 8 and an int64 with digit grouping; (c) hexadecimal with at least
// eight digits. Each row i takes the i-th values; every peer's text is checked equal to ours.

constexpr std::int64_t k_row = 128;

const char* const k_names[] = {"root",        "administrator", "svc",         "backup-agent", "x",
                               "maintenance", "guest",         "remote.desk", "operator01",   "ab"};
const char* const k_hosts[] = {"alpha", "beta.local", "gw", "fileserver-2", "db", "printer", "nas-backup"};
const char* const k_states[] = {"up", "down", "starting", "degraded", "ok"};

std::size_t log_brol(char* buf, std::size_t i) {
  return static_cast<std::size_t>(brol_format(buf, k_row, "[", brol_fmt_int, 4, values32()[i], "] user ",
                                              brol_fmt_right, 12, k_names[i % 10], " took ", brol_fmt_frac, 2, 2,
                                              brol_fmt_float, 8, doubles()[i], " ms\n", brol_fmt_end));
}
std::size_t log_snprintf(char* buf, std::size_t i) {
  return static_cast<std::size_t>(std::snprintf(buf, k_row, "[%" PRId32 "] user %12s took %.2f ms\n", values32()[i],
                                                k_names[i % 10], doubles()[i]));
}
std::size_t log_fmt(char* buf, std::size_t i) {
  const auto r = fmt::format_to_n(buf, k_row - 1, "[{}] user {:>12} took {:.2f} ms\n", values32()[i], k_names[i % 10],
                                  doubles()[i]);
  *r.out = '\0';
  return r.size;
}

std::size_t row_brol(char* buf, std::size_t i) {
  return static_cast<std::size_t>(brol_format(buf, k_row, brol_fmt_left, 16, k_names[i % 10], brol_fmt_left, 10,
                                              k_hosts[i % 7], brol_fmt_left, 8, k_states[i % 5], brol_fmt_group, ',',
                                              brol_fmt_int, 8, values64()[i], brol_fmt_end));
}
// snprintf groups digits by the locale's LC_NUMERIC (en_US.UTF-8, which scripts/bench generates), fmt
// by the std::locale given to it; both put ',' between groups of three, as ours does.
// (The ' flag is POSIX, not ISO C, hence the pragma.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
std::size_t row_snprintf(char* buf, std::size_t i) {
  return static_cast<std::size_t>(std::snprintf(buf, k_row, "%-16s%-10s%-8s%'" PRId64, k_names[i % 10], k_hosts[i % 7],
                                                k_states[i % 5], values64()[i]));
}
#pragma GCC diagnostic pop
// Three digits a group, ',' between them: the grouping of en_US without needing that locale.
struct comma_groups : std::numpunct<char> {
  char do_thousands_sep() const override { return ','; }
  std::string do_grouping() const override { return "\3"; }
};
const std::locale& grouping_locale() {
  static const std::locale loc(std::locale::classic(), new comma_groups);
  return loc;
}
// fmt 9 has no format_to_n with a locale; format_to writes the row (at most 60 characters) whole.
std::size_t row_fmt(char* buf, std::size_t i) {
  char* end = fmt::format_to(buf, grouping_locale(), "{:<16}{:<10}{:<8}{:L}", k_names[i % 10], k_hosts[i % 7],
                             k_states[i % 5], values64()[i]);
  *end = '\0';
  return static_cast<std::size_t>(end - buf);
}

std::size_t hex_brol(char* buf, std::size_t i) {
  return static_cast<std::size_t>(brol_format(buf, k_row, brol_fmt_base, 16, brol_fmt_lower, brol_fmt_digits, 8,
                                              brol_fmt_uint, 4, static_cast<std::uint32_t>(values64()[i]),
                                              brol_fmt_end));
}
std::size_t hex_snprintf(char* buf, std::size_t i) {
  return static_cast<std::size_t>(std::snprintf(buf, k_row, "%08" PRIx32, static_cast<std::uint32_t>(values64()[i])));
}
std::size_t hex_fmt(char* buf, std::size_t i) {
  const auto r = fmt::format_to_n(buf, k_row - 1, "{:08x}", static_cast<std::uint32_t>(values64()[i]));
  *r.out = '\0';
  return r.size;
}

std::size_t hex_fmt_compiled(char* buf, std::size_t i) {
  const auto r = fmt::format_to_n(buf, k_row - 1, FMT_COMPILE("{:08x}"), static_cast<std::uint32_t>(values64()[i]));
  *r.out = '\0';
  return r.size;
}

using row_format = std::size_t (*)(char*, std::size_t);

void check_rows(const char* what, row_format a, row_format b, row_format c) {
  char x[k_row], y[k_row], z[k_row];
  for (std::size_t i = 0; i < k_values; ++i) {
    a(x, i);
    b(y, i);
    c(z, i);
    if (std::strcmp(x, y) != 0 || std::strcmp(x, z) != 0) {
      std::fprintf(stderr, "%s: outputs differ:\n%s\n%s\n%s\n", what, x, y, z);
      std::exit(1);
    }
  }
}

template <row_format Format>
void run_rows(benchmark::State& state) {
  char buf[k_row];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Format(buf, i));
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) % k_values;
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(run_rows<log_brol>)->Name("mixed_log_brol");
BENCHMARK(run_rows<log_snprintf>)->Name("mixed_log_snprintf");
BENCHMARK(run_rows<log_fmt>)->Name("mixed_log_fmt");
BENCHMARK(run_rows<row_brol>)->Name("mixed_row_brol");
BENCHMARK(run_rows<row_snprintf>)->Name("mixed_row_snprintf");
BENCHMARK(run_rows<row_fmt>)->Name("mixed_row_fmt");
BENCHMARK(run_rows<hex_brol>)->Name("mixed_hex_brol");
BENCHMARK(run_rows<hex_snprintf>)->Name("mixed_hex_snprintf");
BENCHMARK(run_rows<hex_fmt>)->Name("mixed_hex_fmt");
BENCHMARK(run_rows<hex_fmt_compiled>)->Name("mixed_hex_fmt_compiled");

// --- Instruction counts ------------------------------------------------------------------------
// `format_bench --count CASE ROUNDS` calls one case ROUNDS times over the 4096 values and nothing
// else (no checks, no timing), for valgrind --tool=callgrind: the difference of the instruction
// totals of two round counts, divided by the calls between them, is the cost of one call.

std::size_t width_brol(char* buf, std::size_t i) {
  return static_cast<std::size_t>(
      brol_format(buf, 32, brol_fmt_right, 12, brol_fmt_int, 4, values32()[i], brol_fmt_end));
}
std::size_t width_snprintf(char* buf, std::size_t i) {
  return static_cast<std::size_t>(std::snprintf(buf, 32, "%12" PRId32, values32()[i]));
}
std::size_t width_fmt(char* buf, std::size_t i) {
  const auto r = fmt::format_to_n(buf, 31, "{:12}", values32()[i]);
  *r.out = '\0';
  return r.size;
}
std::size_t width_fmt_compiled(char* buf, std::size_t i) {
  const auto r = fmt::format_to_n(buf, 31, FMT_COMPILE("{:12}"), values32()[i]);
  *r.out = '\0';
  return r.size;
}

template <class T, std::size_t (*Format)(char*, T), const std::vector<T>& (*Values)()>
std::size_t by_index(char* buf, std::size_t i) {
  return Format(buf, Values()[i]);
}

struct counted_case {
  const char* name;
  row_format call;
};

const counted_case k_counted[] = {
    {"int32_brol", by_index<std::int32_t, ours, values32>},
    {"int32_brol_inline", by_index<std::int32_t, ours_inline, values32>},
    {"int64_brol_inline", by_index<std::int64_t, ours_inline, values64>},
    {"int32_snprintf", by_index<std::int32_t, with_snprintf, values32>},
    {"int32_fmt", by_index<std::int32_t, with_fmt<std::int32_t>, values32>},
    {"int32_fmt_compiled", by_index<std::int32_t, with_fmt_compiled<std::int32_t>, values32>},
    {"int32_to_chars", by_index<std::int32_t, with_to_chars<std::int32_t>, values32>},
    {"int64_brol", by_index<std::int64_t, ours, values64>},
    {"int64_snprintf", by_index<std::int64_t, with_snprintf, values64>},
    {"int64_fmt", by_index<std::int64_t, with_fmt<std::int64_t>, values64>},
    {"int64_fmt_compiled", by_index<std::int64_t, with_fmt_compiled<std::int64_t>, values64>},
    {"int64_to_chars", by_index<std::int64_t, with_to_chars<std::int64_t>, values64>},
    {"width_brol", width_brol},
    {"width_snprintf", width_snprintf},
    {"width_fmt", width_fmt},
    {"width_fmt_compiled", width_fmt_compiled},
    {"double4_brol", by_index<double, float_brol4, doubles>},
    {"double4_snprintf", by_index<double, float_snprintf, doubles>},
    {"double4_fmt", by_index<double, float_fmt, doubles>},
    {"double4_fmt_compiled", by_index<double, float_fmt_compiled, doubles>},
    {"double4_to_chars", by_index<double, float_to_chars, doubles>},
    {"hex_brol", hex_brol},
    {"hex_snprintf", hex_snprintf},
    {"hex_fmt", hex_fmt},
    {"hex_fmt_compiled", hex_fmt_compiled},
    {"log_brol", log_brol},
    {"log_snprintf", log_snprintf},
    {"log_fmt", log_fmt},
    {"row_brol", row_brol},
    {"row_snprintf", row_snprintf},
};

int count_case(const char* name, long rounds) {
  for (const counted_case& c : k_counted) {
    if (std::strcmp(c.name, name) != 0) continue;
    // The values are made before the counted calls, so both round counts pay for them alike.
    values32();
    values64();
    doubles();
    char buf[k_row];
    std::size_t sum = 0;
    for (long r = 0; r < rounds; ++r) {
      for (std::size_t i = 0; i < k_values; ++i) {
        sum += c.call(buf, i);
        benchmark::ClobberMemory();
      }
    }
    std::printf("%zu\n", sum);
    return 0;
  }
  std::fprintf(stderr, "no case %s\n", name);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--count") == 0) {
    std::setlocale(LC_NUMERIC, "en_US.UTF-8");
    return count_case(argv[2], std::atol(argv[3]));
  }
  // The table row's snprintf groups digits only in a locale that has a thousands separator.
  if (std::setlocale(LC_NUMERIC, "en_US.UTF-8") == nullptr) {
    std::fprintf(stderr, "the locale en_US.UTF-8 is missing (scripts/bench generates it)\n");
    return 1;
  }
  check_equal(values32());
  check_equal(values64());
  check_equal_floats();
  check_rows("log line", log_brol, log_snprintf, log_fmt);
  check_rows("table row", row_brol, row_snprintf, row_fmt);
  check_rows("hexadecimal", hex_brol, hex_snprintf, hex_fmt);
  check_rows("hexadecimal, compiled", hex_brol, hex_fmt_compiled, hex_fmt_compiled);
  check_rows("right-aligned", width_brol, width_snprintf, width_fmt);
  check_rows("right-aligned, compiled", width_brol, width_fmt_compiled, width_fmt_compiled);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
