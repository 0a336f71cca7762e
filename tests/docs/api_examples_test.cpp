// The examples of the API reference's start page (docs/examples/) are compiled here and each is run
// against a reference: printf for the engine, the real file system, a real server on loopback.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../brol/stream/stream_test_fakes.h"
#include "brol_test_support.h"

#include "../../docs/examples/config_example.cpp"
#include "../../docs/examples/container_example.cpp"
#include "../../docs/examples/directory_example.cpp"
#include "../../docs/examples/format_example.cpp"
#include "../../docs/examples/http_example.cpp"
#include "../../docs/examples/log_example.cpp"
#include "../../docs/examples/readme_example.cpp"
#include "../../docs/examples/stream_example.cpp"
#include "../../docs/examples/string_example.cpp"

namespace {

using brol_test::owned_string;

TEST(ApiExamples, String) {
  owned_string out;
  example_string(out);
  std::string expected = std::string("settings") + brol_path_separator + "fernwartung.ini";
  expected += " (" + std::to_string(expected.size()) + " bytes)";
  EXPECT_EQ(out.s(), expected);
}

TEST(ApiExamples, EngineAgainstPrintf) {
  const struct {
    const char* name;
    std::int32_t count;
    double share;
  } rows[] = {{"disk", 42, 0.5}, {"memory", -12345, 99.126}, {"a long name", 2147483647, 0.004}};
  for (const auto& r : rows) {
    char reference[128];
    const int length = std::snprintf(reference, sizeof reference, "%-8s%6d %.2f", r.name, r.count, r.share);
    for (int size = 0; size <= length + 1; ++size) {
      std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '#');
      EXPECT_EQ(example_format(size > 0 ? buffer.data() : nullptr, size, r.name, r.count, r.share), length);
      if (size > 0) {
        EXPECT_EQ(std::string(buffer.data()), std::string(reference, static_cast<std::size_t>(std::min(length, size - 1))))
            << r.name << " in " << size;
      }
    }
  }
  owned_string out("x ");
  EXPECT_TRUE(example_append_format(out, -7));
  EXPECT_EQ(out.s(), "x count=-7");
}

TEST(ApiExamples, Stream) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("lines.txt");
  owned_string out;
  EXPECT_TRUE(example_stream(path.c_str(), out));
  EXPECT_EQ(out.s(), "first line|second line: 2");
  EXPECT_EQ(brol_test::read_file(path), "first line\nsecond line: 2\n");
}

TEST(ApiExamples, Configuration) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("settings.ini");
  const struct {
    const char* before;
    int result;
    const char* after;
  } rows[] = {
      {"[server]\nport = 6000\n# note\n", 0, "[server]\nport = 6000\nused_port=6000\n# note\n"},
      {"[server]\n# note\n", 0, "[server]\n# note\nused_port=5500\n"},
      {"[server]\nport =\n", -2, "[server]\nport =\n"},
  };
  for (const auto& r : rows) {
    brol_test::write_file(path, r.before);
    EXPECT_EQ(example_config(path.c_str()), r.result) << r.before;
    EXPECT_EQ(brol_test::read_file(path), r.after) << r.before;
  }
  EXPECT_EQ(example_config(dir.file("missing.ini").c_str()), -1);
}

TEST(ApiExamples, ReadmeAgainstPrintf) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("site.ini");
  const struct {
    const char* file;
    const char* id;
    std::int32_t sessions;
    double share;
  } rows[] = {{"[session]\nid = 301\n", "301", 12, 0.375},
              {"[session]\n# no id\n", "", -2147483647 - 1, 1.0},
              {"[session]\nid = \"a long identifier\"\n", "a long identifier", 0, 0.00049}};
  for (const auto& r : rows) {
    brol_test::write_file(path, r.file);
    char reference[128];
    std::snprintf(reference, sizeof reference, "ID %5s: %d sessions, %.1f%%", r.id, r.sessions, r.share * 100.0);
    owned_string line;
    EXPECT_TRUE(report_line(path.c_str(), r.sessions, r.share, line)) << r.file;
    EXPECT_EQ(line.s(), reference) << r.file;
  }
  owned_string line;
  EXPECT_FALSE(report_line(dir.file("missing.ini").c_str(), 1, 0.5, line));
}

// The README shows the example's marked lines exactly, so that its code is the code compiled above.
TEST(ApiExamples, ReadmeShowsTheExample) {
  const std::string example = brol_test::read_file(BROL_TEST_SOURCE_DIR "/../docs/examples/readme_example.cpp");
  const std::string readme = brol_test::read_file(BROL_TEST_SOURCE_DIR "/../README.md");
  const std::string marker = "// [readme]\n";
  const std::size_t begin = example.find(marker);
  const std::size_t end = example.find(marker, begin + 1);
  ASSERT_NE(end, std::string::npos);
  const std::string shown = example.substr(begin + marker.size(), end - begin - marker.size());
  EXPECT_NE(readme.find("```cpp\n" + shown + "```\n"), std::string::npos) << "README.md no longer shows:\n" << shown;
}

TEST(ApiExamples, Logger) {
  owned_string out;
  example_log(out);
  EXPECT_EQ(out.s(), "disk C: is 93% full");
  EXPECT_EQ(brol_log_hook, nullptr);
  EXPECT_EQ(brol_log_hook_level, brol_log_info);
}

TEST(ApiExamples, HttpFromALoopbackServer) {
  const char* answer = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nall well\n";
  stream_test::stream listener(256);
  const std::uint16_t port = stream_test::listen_any(listener.s, "127.0.0.1");
  ASSERT_NE(port, 0);
  std::vector<std::string> requests;
  std::thread server([&] {
    for (int i = 0; i < 2; ++i) {
      brol_scoped<brol_stream> peer(256);
      if (!peer.accept(&listener.s)) return;
      std::string request;
      char line[256];
      while (peer.get_line(line, sizeof line) && line[0] != '\0') request += std::string(line) + "\n";
      requests.push_back(request);
      peer.write_text(answer);
      peer.close(false);
    }
  });
  brol_test::temp_dir dir;
  const std::string file = dir.file("status.txt");
  owned_string out;
  EXPECT_TRUE(example_http("127.0.0.1", port, file.c_str(), out));
  server.join();
  EXPECT_EQ(out.s(), "all well\n");
  EXPECT_EQ(brol_test::read_file(file), "all well\n");
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, 24), "GET /status HTTP/1.0\nHos");
}

TEST(ApiExamples, Containers) {
  brol_scoped<brol_list<brol_string>> out;
  EXPECT_TRUE(example_containers("b a  b c a b", out));
  std::vector<std::string> lines;
  for (auto* n = out.first; n != nullptr; n = n->next) lines.push_back(n->value.c_str());
  EXPECT_EQ(lines, (std::vector<std::string>{"b=3", "a=2", "c=1"}));
}

TEST(ApiExamples, Directories) {
  brol_test::temp_dir dir;
  EXPECT_EQ(example_directories(dir.path().c_str()), 2);
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(dir.path()) / "logs" / "2026"));
}

}  // namespace
