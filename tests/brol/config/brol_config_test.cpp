// brol_config: loading and saving real files (byte for byte where nothing is normalised), keys and
// values, placement, refusals, own-text arguments, a random model test, and every allocation and
// platform failure of load and save.
#include "brol/config/brol_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../stream/stream_test_fakes.h"
#include "brol_test_support.h"
#include "config_test_util.h"

namespace {

using stream_test::read_file;
using stream_test::write_file;

using config_test::config;

struct string_list : brol_scoped<brol_list<brol_string>> {
  std::vector<std::string> all() {
    std::vector<std::string> v;
    for (auto* n = first; n != nullptr; n = n->next) v.push_back(n->value.c_str());
    return v;
  }
};

// The names of the files in dir, to see that no temporary file is left behind.
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Loads content from a file and saves it to another; the saved bytes.
std::string load_and_save(const std::string& content, std::int16_t crlf) {
  brol_test::temp_dir dir;
  write_file(dir.file("in.ini"), content);
  config c;
  c.crlf = crlf;
  EXPECT_TRUE(c.load(dir.file("in.ini").c_str()));
  EXPECT_TRUE(c.save(dir.file("out.ini").c_str()));
  EXPECT_STREQ(c.file_name.c_str(), dir.file("out.ini").c_str());
  return read_file(dir.file("out.ini"));
}

TEST(BrolConfig, FilesWithoutNormalisedFeaturesSaveBackByteForByte) {
  const std::string long_line = "key=" + std::string(100000, 'v');
  const std::string files[] = {
      "",
      "\n",
      "only=global\n",
      "# leading comment\nbefore = header\n\n[main]\nport = 5500\ntitle = \"a b\" x\n#commented = 1\n\n[second]\n"
      "k=\"quoted\"\nunquoted value line\n",
      "[a]\nx=1\n[]\nempty=name\n[b]\n",
      "[a]\nno final line end",
      "[a]\nx=1\n[b]",
      long_line + "\n[s]\n" + long_line,
  };
  for (const std::string& file : files) {
    EXPECT_EQ(load_and_save(file, 0), file);
    // The same file with CR LF line ends comes back as it was with crlf set.
    std::string crlf_file;
    for (char ch : file) crlf_file += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    EXPECT_EQ(load_and_save(crlf_file, 1), crlf_file);
  }
}

TEST(BrolConfig, LoadingNormalisesAsDocumented) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"  indented = 1  \r\n\tx\r\n", "indented = 1\nx\n"},             // trimmed, CR LF read as LF
      {"[a]\nx=1\n[b]\ny=2\n[a]\nz=3\n", "[a]\nx=1\nz=3\n[b]\ny=2\n"},  // one header per name
      {"[name] trailing text\nk=v\n", "[name]\nk=v\n"},                 // text after ']' dropped
      {"[ spaced ]\n", "[ spaced ]\n"},                                 // names are not trimmed
      {"[broken\nk=v\n", "k=v\n"},                                      // '[' without ']' dropped
      {std::string("\0a=1\n\0\0b=2\n", 11), "a=1\nb=2\n"},              // a NUL starts no line
      {std::string("a=1\0b=2\n", 8), "a=1\nb=2\n"},                     // a NUL ends a line
  };
  for (const auto& c : cases) EXPECT_EQ(load_and_save(c.in, 0), c.out) << c.in;
}

TEST(BrolConfig, GetFollowsTheValueRules) {
  config c;
  ASSERT_TRUE(c.set("s", "seed", nullptr, '=', 0));
  brol_config_section& s = *c.sections.find("s");
  for (const char* line : {"port = 5500", "title = \"a b\" x", "open = \"open", "noseparator", "#k = hidden",
                           "port = second", "empty =", "Port = upper", "hash = #not a comment", "  = blank key"}) {
    s.add_line(0)->assign(line);
  }
  const struct {
    const char* key;
    const char* value;
  } cases[] = {{"port", "5500"},      {"title", "a b"},           {"open", "open"},
               {"noseparator", ""},   {"#k", "hidden"},           {"k", ""},
               {"empty", ""},         {"Port", "upper"},          {"PORT", ""},
               {"missing", ""},       {"hash", "#not a comment"}, {"", "blank key"},
               {nullptr, "blank key"}};
  for (const auto& t : cases) EXPECT_STREQ(c.get("s", t.key, '='), t.value) << (t.key ? t.key : "null");
  EXPECT_STREQ(c.get("nosuch", "port", '='), "");
  // A blank as the separator: the key text ends at the first blank.
  brol_config_section& blank = *c.sections.find_or_add("blank");
  for (const char* line : {"name  value x", "  lead x"}) blank.add_line(0)->assign(line);
  EXPECT_STREQ(blank.get("name", ' '), "value x");
  EXPECT_STREQ(blank.get("", ' '), "lead x");
  EXPECT_STREQ(blank.get("lead", ' '), "");
  EXPECT_STREQ(c.get("s", "port", ':'), "");
  // Keys of content lines, not trimmed; comment and blank lines have none.
  string_list keys;
  c.keys("s", keys);
  EXPECT_EQ(keys.all(), (std::vector<std::string>{"seed", "port ", "title ", "open ", "noseparator", "port ", "empty ",
                                                  "Port ", "hash ", "  "}));
  brol_list<brol_string*> lines;
  lines.init();
  c.content_lines("s", lines);
  EXPECT_STREQ(lines.first->next->value->c_str(), "port = 5500");
  lines.destroy();
}

TEST(BrolConfig, SetChangesInPlaceOrPlacesANewLine) {
  const struct {
    std::vector<std::string> lines;
    const char* key;
    const char* value;
    unsigned flags;
    std::string expected;
  } cases[] = {
      {{"title = \"old\" tail"}, "title", "new", 0, "title = \"new\" tail\n"},
      {{"port = 1 # x"}, "port", "5", 0, "port = 5\n"},
      {{"port = 1"}, "port", nullptr, 0, "port = \n"},
      {{"port = \"1\""}, "port", nullptr, 0, "port = \"\"\n"},
      {{"a=1", "", "b=2"}, "port", "5", 0, "a=1\n\nb=2\nport=\"5\"\n"},
      {{"a=1", "", "b=2"}, "port", "5", brol_cfg_unquoted, "a=1\nport=5\n\nb=2\n"},
      {{"a=1", "", "b=2"}, "port", "5", brol_cfg_top, "port=\"5\"\na=1\n\nb=2\n"},
      {{"# c", "", "a=1", "# d"}, "p", "5", brol_cfg_top | brol_cfg_group, "# c\n\np=\"5\"\na=1\n# d\n"},
      {{"# c", "a=1", "b=1", "# d"}, "p", "5", brol_cfg_group, "# c\na=1\nb=1\np=\"5\"\n# d\n"},
      {{"#port = 1"}, "port", "5", brol_cfg_uncomment, "port = 5\n"},
      {{"#port = 1"}, "port", "5", 0, "#port = 1\nport=\"5\"\n"},
      {{"x=1"}, "port", nullptr, 0, "x=1\nport\n"},
      {{"a = 1", "a = 2"}, "a", "3", 0, "a = 3\na = 2\n"},
  };
  for (const auto& t : cases) {
    config c;
    for (const std::string& line : t.lines) c.global.add_line(0)->assign(line.c_str());
    EXPECT_TRUE(c.global.set(t.key, t.value, '=', t.flags)) << t.expected;
    EXPECT_EQ(c.text(), t.expected);
  }
}

TEST(BrolConfig, RemoveAndCommentOut) {
  config c;
  for (const char* line : {"port = 5", "x", "port = 6"}) c.global.add_line(0)->assign(line);
  EXPECT_TRUE(c.global.remove("port", '=', true));
  EXPECT_EQ(c.text(), "# port = 5\nx\nport = 6\n");
  EXPECT_TRUE(c.global.remove("port", '=', false));  // "# port" is no longer port
  EXPECT_EQ(c.text(), "# port = 5\nx\n");
  EXPECT_TRUE(c.global.remove("x", '=', false));  // a whole line without a separator
  EXPECT_TRUE(c.global.remove("none", '=', false));
  EXPECT_EQ(c.text(), "# port = 5\n");
  EXPECT_TRUE(c.remove("nosuch", "port", '=', false));
}

// Input that would change the file's structure or not read back as written is refused whole.
TEST(BrolConfig, SetRefusesWhatWouldNotReadBack) {
  const struct {
    const char* section;
    const char* key;
    const char* value;
    unsigned flags;
  } refused[] = {
      {"s", "k\n", "v", 0},
      {"s", "k", "v\r", 0},
      {"s\n", "k", "v", 0},
      {"a]b", "k", "v", 0},
      {"s", "q", "a\"b", 0},
      {"s", "k=x", "v", 0},
      {"s", "[k", "v", 0},
      {"s", " k", "v", 0},
      {"new", "k\r\n", "v", 0},
      {"s", "old", "with \" quote", 0},
  };
  for (const auto& r : refused) {
    config c;
    ASSERT_TRUE(c.set("s", "old", "1", '=', 0));
    ASSERT_TRUE(c.set("s", "plain", "1", '=', brol_cfg_unquoted));
    const std::string before = c.text();
    EXPECT_FALSE(c.set(r.section, r.key, r.value, '=', r.flags)) << r.section << "|" << r.key << "|" << r.value;
    EXPECT_EQ(c.text(), before);
  }
  config c;
  EXPECT_TRUE(c.set("s", "u", "x \"y\"", '=', brol_cfg_unquoted));  // inner quotes read back unquoted
  EXPECT_STREQ(c.get("s", "u", '='), "x \"y\"");
}

// Arguments that point into the configuration's own lines and strings work as copies would.
TEST(BrolConfig, ArgumentsFromTheConfigurationItself) {
  brol_test::temp_dir dir;
  config c;
  ASSERT_TRUE(c.set("s", "q", "quoted value", '=', 0));
  ASSERT_TRUE(c.set("s", "u", "unquoted value", '=', brol_cfg_unquoted));
  ASSERT_TRUE(c.set("s", "q", c.get("s", "q", '='), '=', 0));
  ASSERT_TRUE(c.set("s", "u", c.get("s", "u", '='), '=', 0));
  ASSERT_TRUE(c.set("s", "u", c.get("s", "u", '=') + 2, '=', 0));  // a suffix of the old value
  EXPECT_EQ(c.text(), "[s]\nq=\"quoted value\"\nu=quoted value\n");
  // A key that is a line of the section: the line it names is the one commented out.
  brol_config_section& s = *c.sections.find("s");
  brol_string* plain = s.add_line(0);
  plain->assign("plain");
  ASSERT_TRUE(s.set(plain->text, "v", '=', brol_cfg_unquoted));
  ASSERT_TRUE(s.remove(plain->text, '=', true));
  const std::string expected = "[s]\nq=\"quoted value\"\nu=quoted value\n# plain\nplain=v\n";
  EXPECT_EQ(c.text(), expected);
  ASSERT_TRUE(c.save(dir.file("a.ini").c_str()));
  ASSERT_TRUE(c.save(c.file_name.text));
  ASSERT_TRUE(c.load(c.file_name.text));
  EXPECT_STREQ(c.file_name.c_str(), dir.file("a.ini").c_str());
  EXPECT_EQ(c.text(), expected);
}

TEST(BrolConfig, LoadAndSaveEdges) {
  brol_test::temp_dir dir;
  config c;
  ASSERT_TRUE(c.set("keep", "k", "v", '=', 0));
  EXPECT_FALSE(c.load(dir.file("missing.ini").c_str()));
  EXPECT_FALSE(c.load(nullptr));
  EXPECT_FALSE(c.load(dir.path().c_str()));  // a directory
  EXPECT_EQ(c.text(), "[keep]\nk=\"v\"\n");
  EXPECT_FALSE(c.save(nullptr));  // no file name yet
  EXPECT_FALSE(c.save(""));
  EXPECT_FALSE(c.save(dir.file("no/such/folder.ini").c_str()));
  string_list names;
  c.section_names(names);
  EXPECT_EQ(names.all(), std::vector<std::string>{"keep"});
  c.clear();
  EXPECT_EQ(c.text(), "");
  EXPECT_STREQ(c.file_name.c_str(), "");
}

// --- A model of the rules, on plain strings --------------------------------------------------------

struct model {
  std::vector<std::string> lines;

  static bool blank(char ch) { return ch == ' ' || ch == '\t'; }
  static std::string trim(std::string s) {
    const char* space = " \t\r\n";
    s.erase(0, s.find_first_not_of(space) == std::string::npos ? s.size() : s.find_first_not_of(space));
    s.erase(s.find_last_not_of(space) + 1);
    return s;
  }
  static bool content(const std::string& l) { return !l.empty() && l[0] != '#'; }
  static std::optional<std::string> key_text(const std::string& l, bool uncomment) {
    const auto at = l.find('=');
    if (at == std::string::npos) return std::nullopt;
    std::string t = l.substr(0, at);
    if (uncomment && !t.empty() && t[0] == '#') t.erase(0, 1);
    return trim(t);
  }
  static bool refuses(const std::string& key, const std::optional<std::string>& value, bool quoted, bool new_line) {
    const std::string v = value.value_or("");
    if (key.find_first_of("\r\n") != std::string::npos || v.find_first_of("\r\n") != std::string::npos) return true;
    if (quoted && v.find('"') != std::string::npos) return true;
    return new_line && (key.find('=') != std::string::npos ||
                        (!key.empty() && (key[0] == '[' || blank(key[0]) || blank(key.back()))));
  }
  std::size_t place(unsigned flags) {
    if ((flags & 3) == 1) return 0;
    if (flags == 0) return lines.size();
    bool seen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (content(lines[i]) == ((flags & 1) == 0)) {
        seen = true;
      } else if (seen) {
        return i;
      }
    }
    return lines.size();
  }
  std::string get(const std::string& key) const {
    for (const std::string& l : lines) {
      if (key_text(l, false) != key) continue;
      std::size_t p = l.find('=') + 1;
      while (p < l.size() && blank(l[p])) ++p;
      if (p < l.size() && l[p] == '"') return l.substr(p + 1, l.find('"', p + 1) - (p + 1));
      return l.substr(p);
    }
    return "";
  }
  bool set(const std::string& key, const std::optional<std::string>& value, unsigned flags) {
    for (std::string& l : lines) {
      // A line that matches as it stands keeps its '#'; one that matches without it is un-commented.
      const bool as_is = key_text(l, false) == key;
      if (!as_is && ((flags & 4) == 0 || key_text(l, true) != key)) continue;
      std::size_t p = l.find('=') + 1;
      while (p < l.size() && blank(l[p])) ++p;
      const bool quoted = p < l.size() && l[p] == '"';
      if (refuses(key, value, quoted, false)) return false;
      const std::size_t at = p + (quoted ? 1 : 0);
      const std::size_t end = quoted ? std::min(l.find('"', at), l.size()) : l.size();
      const std::string v = value.value_or("");
      // An open quote is closed where the value's last blank would be trimmed.
      const bool close = quoted && end == l.size() && !v.empty() && blank(v.back());
      std::string changed = l;
      changed.replace(at, end - at, close ? v + "\"" : v);
      if (!as_is && changed[0] == '#') changed = trim(changed.substr(1));
      if (!changed.empty() && changed[0] == '[') return false;  // it would read back as a header
      l = changed;
      return true;
    }
    if (refuses(key, value, (flags & 8) == 0, true)) return false;
    std::string line = key;
    if (value) line += (flags & 8) != 0 ? "=" + *value : "=\"" + *value + "\"";
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place(flags)), line);
    return true;
  }
  void remove(const std::string& key, bool comment_out) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] != key && key_text(lines[i], false) != key) continue;
      if (comment_out) {
        lines[i].insert(0, "# ");
      } else {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      }
      return;
    }
  }
  std::string text() const {
    std::string t;
    for (const std::string& l : lines) t += l + "\n";
    return t;
  }
};

// Thousands of random steps on global (section operations) and on a named section (configuration
// operations), the whole text compared with the model's after every step.
TEST(BrolConfig, RandomStepsMatchTheModel) {
  const char* keys[] = {"a", "b", "k1", "#a", " a", "a ", "", "[x", "a=b", "x y"};
  const std::optional<std::string> values[] = {
      std::nullopt, "", "v", "x y", "\"q", " lead", "tail ", "in\"side", "with=sep", "#c", "long value here"};
  const char* texts[] = {"", "# comment", "a = 1", "b=\"2\" tail", "#a = 3", "c  =  \"4", "plain", "a=", "k1 =\t9"};
  const unsigned flag_values[] = {0, 1, 2, 3, 4, 5, 8, 9, 10, 12, 15};
  std::mt19937 rng(2024);
  config c;
  model global, named;
  bool named_exists = false;
  for (int step = 0; step < 6000; ++step) {
    const bool on_named = rng() % 2 == 0;
    model& m = on_named ? named : global;
    const char* key = keys[rng() % std::size(keys)];
    const auto& value = values[rng() % std::size(values)];
    const unsigned flags = flag_values[rng() % std::size(flag_values)];
    const char* v = value ? value->c_str() : nullptr;
    switch (rng() % 4) {
      case 0:
        ASSERT_STREQ(on_named ? c.get("s", key, '=') : c.global.get(key, '='), m.get(key).c_str()) << step;
        break;
      case 1: {
        if (on_named && !named_exists && model::refuses(key, value, (flags & 8) == 0, true)) {
          ASSERT_FALSE(c.set("s", key, v, '=', flags)) << step;
          break;
        }
        named_exists = named_exists || on_named;
        const bool done = on_named ? c.set("s", key, v, '=', flags) : c.global.set(key, v, '=', flags);
        ASSERT_EQ(done, m.set(key, value, flags)) << step;
        break;
      }
      case 2: {
        const bool comment_out = rng() % 2 == 0;
        ASSERT_TRUE(on_named ? c.remove("s", key, '=', comment_out) : c.global.remove(key, '=', comment_out));
        if (!on_named || named_exists) m.remove(key, comment_out);
        break;
      }
      default: {
        brol_config_section* s = on_named ? c.sections.find("s") : &c.global;
        if (s == nullptr) break;
        const char* text = texts[rng() % std::size(texts)];
        s->add_line(flags)->assign(text);
        m.lines.insert(m.lines.begin() + static_cast<std::ptrdiff_t>(m.place(flags)), text);
      }
    }
    ASSERT_EQ(c.text(), global.text() + (named_exists ? "[s]\n" + named.text() : "")) << step;
    // Sections are kept short, so that placement meets every kind of neighbourhood.
    if (m.lines.size() > 40) {
      m.lines.clear();
      brol_config_section* s = on_named ? c.sections.find("s") : &c.global;
      ASSERT_NE(s, nullptr);
      s->clear();
    }
  }
}

// --- Failures of load and save -----------------------------------------------------------------------

const char k_old_file[] = "# old\n[a]\nx=1\n";
const char k_new_file[] = "# new\n[b]\ny = \"2\"\n[c]\nz=3\n";

// At every allocation a load may make, it either succeeds whole or changes nothing.
TEST(BrolConfig, LoadAtEveryAllocationFailure) {
  brol_test::temp_dir dir;
  write_file(dir.file("new.ini"), k_new_file);
  config c;
  bool ok = false;
  const std::int64_t points = brol_test::for_each_allocation_failure(
      [&] {
        c.clear();
        c.set("a", "x", "1", '=', brol_cfg_unquoted);
        c.file_name.assign("old name");
      },
      [&] { ok = c.load(dir.file("new.ini").c_str()); },
      [&](std::int64_t n) {
        if (ok) {
          EXPECT_EQ(c.text(), "# new\n[b]\ny = \"2\"\n[c]\nz=3\n") << n;
        } else {
          EXPECT_EQ(c.text(), "[a]\nx=1\n") << n;
          EXPECT_STREQ(c.file_name.c_str(), "old name") << n;
        }
      });
  EXPECT_GE(points, 8);
}

// A read that fails at any call makes the load false and changes nothing; short reads change nothing.
TEST(BrolConfig, LoadWithFailingAndShortReads) {
  brol_test::temp_dir dir;
  std::string big;
  for (int i = 0; i < 3000; ++i) {
    big += i % 50 == 0 ? "[s" : "k";
    big += std::to_string(i);
    big += i % 50 == 0 ? "]\n" : " = v\n";
  }
  write_file(dir.file("big.ini"), big);
  for (int fail_at = 1; fail_at <= 5; ++fail_at) {
    config c;
    ASSERT_TRUE(c.set("a", "x", "1", '=', brol_cfg_unquoted));
    stream_test::fake_os fake;
    stream_test::reads.fail_at = fail_at;
    stream_test::reads.fail_errno = EIO;
    EXPECT_FALSE(c.load(dir.file("big.ini").c_str())) << fail_at;
    EXPECT_EQ(c.text(), "[a]\nx=1\n");
  }
  config c;
  {
    stream_test::fake_os fake;
    stream_test::reads.random = true;
    ASSERT_TRUE(c.load(dir.file("big.ini").c_str()));
  }
  ASSERT_TRUE(c.save(dir.file("copy.ini").c_str()));
  EXPECT_EQ(read_file(dir.file("copy.ini")), big);
}

// The calls a save makes beyond writes, made to fail one at a time.
struct save_faults {
  static inline int fail = 0;  // 1 flush, 2 close, 3 replace
  static bool flush(brol_file_handle f) {
    if (fail == 1) return errno = EIO, false;
    return brol_platform_defaults().file_flush(f);
  }
  static bool close(brol_file_handle f) {
    const bool closed = brol_platform_defaults().file_close(f);
    if (fail == 2) return errno = EIO, false;
    return closed;
  }
  // The replacement closes the new file itself: a failed close (2) is its failure too.
  static bool replace(brol_file_handle f, const char* from, const char* to) {
    if (fail < 2) return brol_platform_defaults().file_replace(f, from, to);
    brol_platform_defaults().file_close(f);
    return errno = fail == 2 ? EIO : EACCES, false;
  }
};

// Every failing write, the flush, the close and the replacement leave the old file as it was and no
// temporary file behind; every allocation failure too.
TEST(BrolConfig, SaveNeverLeavesACutFile) {
  brol_test::temp_dir dir;
  const std::string target = dir.file("cfg.ini");
  config c;
  write_file(dir.file("new.ini"), k_new_file);
  ASSERT_TRUE(c.load(dir.file("new.ini").c_str()));
  std::remove(dir.file("new.ini").c_str());
  auto check_untouched = [&](const std::string& what) {
    EXPECT_EQ(read_file(target), k_old_file) << what;
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"cfg.ini"}) << what;
  };
  // Short writes of 3 bytes make several write calls; each of them fails once.
  int write_calls = 0;
  {
    stream_test::fake_os fake;
    stream_test::writes.most = 3;
    ASSERT_TRUE(c.save(dir.file("count.ini").c_str()));
    write_calls = stream_test::writes.calls;
    std::remove(dir.file("count.ini").c_str());
  }
  EXPECT_GE(write_calls, 8);
  for (int fail_at = 1; fail_at <= write_calls; ++fail_at) {
    write_file(target, k_old_file);
    stream_test::fake_os fake;
    stream_test::writes.fail_at = fail_at;
    stream_test::writes.fail_errno = ENOSPC;
    stream_test::writes.most = 3;
    EXPECT_FALSE(c.save(target.c_str()));
    check_untouched("write " + std::to_string(fail_at));
  }
  for (int fault = 1; fault <= 3; ++fault) {
    write_file(target, k_old_file);
    save_faults::fail = fault;
    brol_os.file_flush = save_faults::flush;
    brol_os.file_close = save_faults::close;
    brol_os.file_replace = save_faults::replace;
    EXPECT_FALSE(c.save(target.c_str()));
    brol_os = brol_platform_defaults();
    check_untouched("fault " + std::to_string(fault));
  }
  bool ok = false;
  brol_test::for_each_allocation_failure([&] { write_file(target, k_old_file); }, [&] { ok = c.save(target.c_str()); },
                                         [&](std::int64_t n) {
                                           if (ok) {
                                             EXPECT_EQ(read_file(target), k_new_file) << n;
                                           } else {
                                             check_untouched("allocation " + std::to_string(n));
                                           }
                                         });
  ASSERT_TRUE(c.save(target.c_str()));
  EXPECT_EQ(read_file(target), k_new_file);
}

// A section written to a stream of the caller's: every line with its line end; a failing write ends it.
TEST(BrolConfig, SectionWriteToAStream) {
  brol_test::temp_dir dir;
  config c;
  for (const char* line : {"a=1", "", "# c"}) c.global.add_line(0)->assign(line);
  for (int crlf = 0; crlf < 2; ++crlf) {
    stream_test::stream s(4);
    ASSERT_TRUE(s->open(dir.file("w").c_str(), 0x301));
    EXPECT_TRUE(c.global.write(s.s, static_cast<std::int16_t>(crlf)));
    s->close(false);
    EXPECT_EQ(read_file(dir.file("w")), crlf ? "a=1\r\n\r\n# c\r\n" : "a=1\n\n# c\n");
  }
  stream_test::stream s(4);
  ASSERT_TRUE(s->open(dir.file("w").c_str(), 0x301));
  stream_test::fake_os fake;
  stream_test::writes.fail_at = 3;
  stream_test::writes.fail_errno = EIO;
  EXPECT_FALSE(c.global.write(s.s, 0));
  EXPECT_EQ(stream_test::writes.calls, 3);
}

// A set that meets a failed allocation changes nothing: the old value stays, no new line is left.
TEST(BrolConfig, SetAtEveryAllocationFailure) {
  config c;
  bool ok = false;
  for (const char* key : {"old", "new"}) {
    const std::int64_t points = brol_test::for_each_allocation_failure(
        [&] {
          c.clear();
          c.set("s", "old", "1", '=', 0);
        },
        [&] { ok = c.set("s", key, std::string(100, 'v').c_str(), '=', brol_cfg_top); },
        [&](std::int64_t n) {
          const std::string changed = std::string(key) == "old"
                                          ? "[s]\nold=\"" + std::string(100, 'v') + "\"\n"
                                          : "[s]\nnew=\"" + std::string(100, 'v') + "\"\nold=\"1\"\n";
          EXPECT_EQ(c.text(), ok ? changed : "[s]\nold=\"1\"\n") << key << n;
        });
    EXPECT_GE(points, 1);
  }
}

// Each thread has its own quoted value: another thread's gets never overwrite it.
TEST(BrolConfig, QuotedValuesPerThread) {
  config a, b;
  ASSERT_TRUE(a.set("s", "k", "from a", '=', 0));
  ASSERT_TRUE(b.set("s", "k", "from b, a longer text that needs its own buffer", '=', 0));
  const char* mine = a.get("s", "k", '=');
  std::thread other([&] {
    for (int i = 0; i < 1000; ++i)
      ASSERT_STREQ(b.get("s", "k", '='), "from b, a longer text that needs its own buffer");
  });
  other.join();
  EXPECT_STREQ(mine, "from a");
}

}  // namespace
