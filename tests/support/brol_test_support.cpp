// Shared test helpers: allocation failure sweeps, temporary folders, random texts and the sockets.
#include "brol_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <tuple>

#include "brol/platform/brol_platform.h"

namespace brol_test {

const bool sockets_started = [] {
#ifdef _WIN32
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
  return true;
#endif
}();

std::string random_text(std::mt19937& rng, const char* alphabet, std::size_t max_length) {
  const std::size_t n = rng() % (max_length + 1);
  const std::size_t k = std::char_traits<char>::length(alphabet);
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += alphabet[rng() % k];
  return out;
}

std::int64_t count_allocations(const std::function<void()>& operation) {
  brol_alloc_fail_at(0);
  operation();
  return brol_alloc_test.calls.load();
}

std::int64_t for_each_allocation_failure(const std::function<void()>& setup, const std::function<void()>& operation,
                                         const std::function<void(std::int64_t)>& check) {
  setup();
  const std::int64_t total = count_allocations(operation);
  for (std::int64_t n = 1; n <= total; ++n) {
    brol_alloc_fail_at(0);
    setup();
    {
      alloc_failure failing(n);
      operation();
    }
    check(n);
  }
  return total;
}

std::int64_t sweep_allocations(bool persistent, const std::function<void(alloc_trial&)>& body) {
  constexpr std::int64_t limit = 100000;
  for (std::int64_t n = 1; n <= limit; ++n) {
    alloc_trial trial{n, persistent};
    body(trial);
    if (!trial.hit) {
      return n - 1;
    }
  }
  ADD_FAILURE() << "the operation still allocates after " << limit << " failure points";
  return limit;
}

namespace {

// The part of a compiler's file name from its last "brol/" folder on, with '/' separators.
std::string below_source_tree(std::string file) {
  std::replace(file.begin(), file.end(), '\\', '/');
  const std::size_t at = file.rfind("/brol/");
  return at == std::string::npos ? file : file.substr(at + 1);
}

}  // namespace

std::vector<alloc_site> recorded_alloc_sites() {
#ifndef BROL_ALLOC_SITES
  return {};  // a build without site recording
#else
  std::vector<brol_alloc_site_record> records(1024);
  const std::int64_t n = brol_alloc_sites(records.data(), static_cast<std::int64_t>(records.size()));
  EXPECT_LE(n, 512) << "the site table overflowed";
  std::map<std::pair<std::string, std::uint32_t>, alloc_site> joined;
  for (std::int64_t i = 0; i < n && i < 512; ++i) {
    const brol_alloc_site_record& r = records[static_cast<std::size_t>(i)];
    alloc_site& site = joined[{below_source_tree(r.file), r.line}];
    site.file = below_source_tree(r.file);
    site.line = r.line;
    site.reached += r.reached;
    site.failed += r.failed;
  }
  std::vector<alloc_site> out;
  for (const auto& entry : joined) {
    out.push_back(entry.second);
  }
  return out;
#endif
}

std::vector<alloc_site> library_alloc_sites() {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(BROL_TEST_SOURCE_DIR).parent_path();
  std::vector<alloc_site> out;
  for (const auto& entry : fs::recursive_directory_iterator(root / "brol")) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name.rfind("brol_alloc.", 0) == 0) {
      continue;
    }
    std::ifstream in(entry.path());
    std::string line;
    for (std::uint32_t number = 1; std::getline(in, line); ++number) {
      const std::size_t start = line.find_first_not_of(' ');
      if (line.find("brol_alloc(") != std::string::npos && line.compare(start, 2, "//") != 0) {
        out.push_back({fs::relative(entry.path(), root).generic_string(), number, 0, 0});
      }
    }
  }
  std::sort(out.begin(), out.end(), [](const alloc_site& a, const alloc_site& b) {
    return std::tie(a.file, a.line) < std::tie(b.file, b.line);
  });
  return out;
}

temp_dir::temp_dir() {
  static std::atomic<unsigned> serial{0};
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("brol_test_" + std::to_string(rd()) + "_" + std::to_string(serial++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
}

temp_dir::~temp_dir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string temp_dir::file(const std::string& name) const { return (std::filesystem::path(path_) / name).string(); }

std::string read_file(const std::string& path) {
  std::string content;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return "<missing>";
  }
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) {
    content.append(chunk, n);
  }
  std::fclose(f);
  return content;
}

void write_file(const std::string& path, const std::string& content) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
  std::fclose(f);
}

}  // namespace brol_test
