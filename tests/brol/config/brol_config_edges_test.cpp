// brol_config at the edges of the file format: lines that set would turn into headers, unquoted values
// written as given, a last line that load drops, and a UTF-8 byte order mark. Real files in a
// temporary folder; every table row checks the text, the values got and what a reload sees.
#include <gtest/gtest.h>

#include <string>

#include "../stream/stream_test_fakes.h"
#include "brol/config/brol_config.h"
#include "brol_test_support.h"
#include "config_test_util.h"

namespace {

using config_test::config;
using stream_test::read_file;
using stream_test::write_file;

// Loads content, saves it elsewhere: the bytes saved. *text receives the loaded text.
std::string round_trip(const std::string& content, std::string* text = nullptr, std::int16_t* mark = nullptr) {
  brol_test::temp_dir dir;
  write_file(dir.file("in.ini"), content);
  config c;
  EXPECT_TRUE(c.load(dir.file("in.ini").c_str()));
  if (text != nullptr) *text = c.text();
  if (mark != nullptr) *mark = c.byte_order_mark;
  c.crlf = content.find("\r\n") != std::string::npos ? 1 : 0;
  EXPECT_TRUE(c.save(dir.file("out.ini").c_str()));
  return read_file(dir.file("out.ini"));
}

// A set that would make a line begin with '[' (a header on reload, or a dropped line) or with the
// blank that a reload trims away is refused, with nothing changed; its neighbours are accepted.
TEST(BrolConfigEdges, SetNeverWritesALineThatReadsBackAsAnother) {
  const struct {
    const char* lines;  // the section's lines before, one per '\n'
    const char* key;
    const char* value;
    char sep;
    unsigned flags;
    const char* after;  // null: refused, lines unchanged
  } cases[] = {
      {"#[x]=1\n", "[x]", "5", '=', brol_cfg_uncomment, nullptr},
      {"#  [x] = 1\n", "[x]", "5", '=', brol_cfg_uncomment, nullptr},
      {"#[x]=1\n", "[x]", nullptr, '=', brol_cfg_uncomment, nullptr},
      {"# x\n", "", "[v]", ' ', brol_cfg_uncomment, nullptr},    // the value would lead the line
      {"# x\n", "", "  [v]", ' ', brol_cfg_uncomment, nullptr},  // also behind blanks
      {"", "", "v", '[', 0, nullptr},                            // '["v"'
      {"", "", "v", ' ', 0, nullptr},                            // ' "v"' loses its key on reload
      {"", "", "v", '\t', brol_cfg_unquoted, nullptr},
      {"", "[k", "v", '=', 0, nullptr},
      // Un-commenting that would take the separator away: '#' is the separator itself, or an empty
      // key would leave the line beginning with the blank or tab the trimming removes.
      {"#old\n", "", "new", '#', brol_cfg_uncomment, nullptr},
      {"#old\n", "", nullptr, '#', brol_cfg_uncomment, nullptr},
      {"# x\n", "", "v", ' ', brol_cfg_uncomment, nullptr},
      {"#\told\n", "", "v", '\t', brol_cfg_uncomment, nullptr},
      {"# x\n", "", "", ' ', brol_cfg_uncomment, nullptr},
      // Blanks alone written raw behind a blank separator would be trimmed away with it.
      {"", "k", "  ", ' ', brol_cfg_unquoted, nullptr},
      {"k v\n", "k", " \t", ' ', brol_cfg_unquoted, nullptr},
      // Accepted neighbours.
      {"#[x]=1\n", "x", "5", '=', brol_cfg_uncomment, "#[x]=1\nx=\"5\"\n"},
      {"# =1\n", "", "5", '=', brol_cfg_uncomment, "=5\n"},
      {"#old\n", "", "new", '#', 0, "#new\n"},  // a comment line that '#' splits is no comment here
      // A key that begins with '#' matches its line as find reads it, which keeps its '#'.
      {"#a=2\n", "#a", "x", '=', brol_cfg_uncomment, "#a=x\n"},
      {"#a=2\n# #a=3\n", "#a", "x", '=', brol_cfg_uncomment, "#a=x\n# #a=3\n"},
      {"# #a=3\n", "#a", "x", '=', brol_cfg_uncomment, "#a=x\n"},
      // An empty value behind a blank or tab goes between quotes, where it would end the line.
      {"#k v\n", "k", "", ' ', brol_cfg_uncomment, "k \"\"\n"},
      {"#k v\n", "k", nullptr, ' ', brol_cfg_uncomment, "k \"\"\n"},
      {"k\tv\n", "k", nullptr, '\t', 0, "k\t\"\"\n"},
      {"k   v\n", "k", "", ' ', brol_cfg_unquoted, "k   \"\"\n"},
      {"", "k", "", ' ', brol_cfg_unquoted, "k \"\"\n"},
      {"", "k", "", '\t', 0, "k\t\"\"\n"},
      {"k=v\n", "k", "", '=', brol_cfg_unquoted, "k=\n"},  // '=' stays at the end: no quotes needed
      {"", "k", " x", ' ', brol_cfg_unquoted, "k  x\n"},
      // A quoted value left open gets its closing quote where its last blank would be trimmed.
      {"b = \"r\n", "b", "1\t", '=', 0, "b = \"1\t\"\n"},
      {"b = \"r\n", "b", "1", '=', 0, "b = \"1\n"},
      // A first line that begins with the bytes of a byte order mark keeps them (the mark goes first).
      {"", "\xEF\xBB\xBFk", "v", '=', brol_cfg_top, "\xEF\xBB\xBFk=\"v\"\n"},
      {"#a=[1]\n", "a", "[2]", '=', brol_cfg_uncomment, "a=[2]\n"},
      {"", "", nullptr, '[', 0, "\n"},  // the key alone: an empty line
      {"", "", "v", '=', 0, "=\"v\"\n"},
  };
  for (const auto& c : cases) {
    config cfg;
    std::string before;
    for (std::string lines = c.lines; !lines.empty();) {
      const std::size_t lf = lines.find('\n');
      cfg.global.add_line(0)->assign(lines.substr(0, lf).c_str());
      before += lines.substr(0, lf + 1);
      lines.erase(0, lf + 1);
    }
    const bool done = cfg.global.set(c.key, c.value, c.sep, c.flags);
    EXPECT_EQ(done, c.after != nullptr) << c.lines << "|" << c.key;
    EXPECT_EQ(cfg.text(), c.after != nullptr ? std::string(c.after) : before) << c.lines << "|" << c.key;
    // What set accepted reads back after a save and a load: the key, and a quoted value as given.
    if (done && c.value != nullptr) {
      brol_test::temp_dir dir;
      ASSERT_TRUE(cfg.save(dir.file("a.ini").c_str()));
      config back;
      ASSERT_TRUE(back.load(dir.file("a.ini").c_str()));
      const char* got = back.global.find(c.key, c.sep);
      EXPECT_NE(got, nullptr) << c.lines << "|" << c.key;
      if (got != nullptr && ((c.flags & brol_cfg_unquoted) == 0 || c.value[0] == '\0')) {
        EXPECT_STREQ(got, c.value) << c.lines;
      }
    }
  }
  // Without uncomment the commented line does not match, and a new "[x]" line is refused as ever.
  config cfg;
  cfg.global.add_line(0)->assign("#[x]=1");
  EXPECT_FALSE(cfg.global.set("[x]", "5", '=', 0));
  EXPECT_FALSE(cfg.set("s", "", "v", '[', 0));
  EXPECT_EQ(cfg.sections.find("s"), nullptr);  // a refused set makes no section either
  EXPECT_EQ(cfg.text(), "#[x]=1\n");
}

// An unquoted value is written as given, whatever it begins or ends with: what get returns at once
// and after a save and a load (lines are trimmed, the blanks after sep are passed, a leading quote
// starts a quoted value).
TEST(BrolConfigEdges, UnquotedValuesAreWrittenAsGiven) {
  const struct {
    const char* value;
    const char* line;
    const char* got;
    const char* reloaded;
  } cases[] = {
      {"\"a b\"", "u=\"a b\"", "a b", "a b"},  // the caller's own quotes
      {"\"x", "u=\"x", "x", "x"},
      {" x", "u= x", "x", "x"},
      {"x\t", "u=x\t", "x\t", "x"},
      {" ", "u= ", "", ""},
      {"\"\"", "u=\"\"", "", ""},
  };
  for (const auto& c : cases) {
    for (bool existing : {false, true}) {
      brol_test::temp_dir dir;
      config cfg;
      if (existing) {
        ASSERT_TRUE(cfg.set("s", "u", "old", '=', brol_cfg_unquoted));
      }
      ASSERT_TRUE(cfg.set("s", "u", c.value, '=', brol_cfg_unquoted)) << c.value;
      EXPECT_EQ(cfg.text(), std::string("[s]\n") + c.line + "\n") << c.value;
      EXPECT_STREQ(cfg.get("s", "u", '='), c.got) << c.value;
      ASSERT_TRUE(cfg.save(dir.file("a.ini").c_str()));
      ASSERT_TRUE(cfg.load(dir.file("a.ini").c_str()));
      EXPECT_STREQ(cfg.get("s", "u", '='), c.reloaded) << c.value;
    }
  }
  // Into an existing quoted value a quote is still refused: it would end the value early.
  config cfg;
  ASSERT_TRUE(cfg.set("s", "q", "1", '=', 0));
  EXPECT_FALSE(cfg.set("s", "q", "a\"b", '=', brol_cfg_unquoted));
  EXPECT_EQ(cfg.text(), "[s]\nq=\"1\"\n");
}

// Only a last line that is written back decides whether the saved file ends without a line end.
TEST(BrolConfigEdges, ADroppedLastLineKeepsTheLineEndBeforeIt) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"[a]\nx=1\n[b", "[a]\nx=1\n"},   // '[' without ']' dropped
      {"[a]\nx=1\n[a]", "[a]\nx=1\n"},  // a header seen before adds nothing
      {"[a]\nx=1\n[a] tail", "[a]\nx=1\n"},
      {"[a]\r\nx=1\r\n[b", "[a]\r\nx=1\r\n"},
      {"x=1\n[b]", "x=1\n[b]"},  // a new section's header is written back
      {"[a]\nx=1", "[a]\nx=1"},
      {"[b", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(round_trip(c.in), c.out) << c.in;
    EXPECT_EQ(round_trip(c.out), c.out) << c.in;  // and that is stable
  }
  // Something appended to the saved file starts a line of its own.
  brol_test::temp_dir dir;
  write_file(dir.file("a.ini"), "[a]\nx=1\n[b");
  config cfg;
  ASSERT_TRUE(cfg.load(dir.file("a.ini").c_str()));
  ASSERT_TRUE(cfg.save(nullptr));
  write_file(dir.file("a.ini"), read_file(dir.file("a.ini")) + "y=2\n");
  ASSERT_TRUE(cfg.load(dir.file("a.ini").c_str()));
  EXPECT_STREQ(cfg.get("a", "x", '='), "1");
  EXPECT_STREQ(cfg.get("a", "y", '='), "2");
}

// A UTF-8 byte order mark at the start is set aside for reading (so a first header counts) and
// written back: the bytes round-trip. Anywhere else the three bytes are ordinary text.
TEST(BrolConfigEdges, AByteOrderMarkIsSetAsideAndWrittenBack) {
  const std::string bom = "\xEF\xBB\xBF";
  const struct {
    std::string in, text;
    std::int16_t mark;
    std::string saved = "";  // "" : the bytes of in, with the text after ']' gone
  } cases[] = {
      {bom + "[a]\nx=1\n", "[a]\nx=1\n", 1},
      {bom + "[a]\r\nx=1\r\n", "[a]\nx=1\n", 1},
      {bom + "x=1", "x=1\n", 1},
      {bom + "\n", "\n", 1},
      {bom, "", 1},
      {bom + "[a]\t\nx=1\n", "[a]\nx=1\n", 1},  // the text after ']' goes, as without a mark
      {"x=1\n" + bom + "y=2\n", "x=1\n" + bom + "y=2\n", 0},
      {"\xEF\xBB[a]\n", "\xEF\xBB[a]\n", 0},  // not a whole mark
      // What load leaves out before the first line it keeps (NUL bytes, blanks, a dropped line) is
      // not written back, so a mark behind it begins the saved file, and counts as one.
      {std::string("\0\0", 2) + bom + "[a]\n", "[a]\n", 1, bom + "[a]\n"},
      {" \t" + bom + "x=1\n", "x=1\n", 1, bom + "x=1\n"},
      {"[b\n" + bom + "x=1\n", "x=1\n", 1, bom + "x=1\n"},
      {"x=1\n[b\n" + bom + "y=2\n", "x=1\n" + bom + "y=2\n", 0, "x=1\n" + bom + "y=2\n"},
  };
  for (const auto& c : cases) {
    std::string text;
    std::int16_t mark = -1;
    const std::string saved = round_trip(c.in, &text, &mark);
    const std::string plain =
        (mark != 0 ? bom : "") + (c.in.find('\t') != std::string::npos ? c.text : c.in.substr(mark != 0 ? 3 : 0));
    EXPECT_EQ(saved, c.saved.empty() ? plain : c.saved) << c.in;
    EXPECT_EQ(round_trip(saved), saved) << "the saved file is stable";
    EXPECT_EQ(text, c.text) << c.in;
    EXPECT_EQ(mark, c.mark) << c.in;
  }
  brol_test::temp_dir dir;
  write_file(dir.file("a.ini"), bom + "[main]\nport=5500\n");
  config cfg;
  ASSERT_TRUE(cfg.load(dir.file("a.ini").c_str()));
  EXPECT_STREQ(cfg.get("main", "port", '='), "5500");
  ASSERT_TRUE(cfg.set("main", "port", "5501", '=', brol_cfg_unquoted));
  ASSERT_TRUE(cfg.save(nullptr));
  EXPECT_EQ(read_file(dir.file("a.ini")), bom + "[main]\nport=5501\n");
  // A load of a file without one, and clear, forget the mark.
  write_file(dir.file("b.ini"), "[main]\n");
  ASSERT_TRUE(cfg.load(dir.file("b.ini").c_str()));
  EXPECT_EQ(cfg.byte_order_mark, 0);
  ASSERT_TRUE(cfg.load(dir.file("a.ini").c_str()));
  cfg.clear();
  EXPECT_EQ(cfg.byte_order_mark, 0);
}

}  // namespace
