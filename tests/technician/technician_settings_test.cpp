// The console's settings: every refusal names its line, good files give their values, the example
// is itself a good file.
#include "technician/technician_settings.h"

#include <gtest/gtest.h>

#include "brol_test_support.h"

namespace {

struct refusal_row {
  const char* text;
  const char* error;  // "" when the file is good
};

const refusal_row k_rows[] = {
    {"[ids]\n301 = 5901\n", ""},
    {"# c\n\n[console]\nviewer = v\n[ids]\n301=5901\n302 = 5902\n", ""},
    {"[ids]\n301 = 5901\n[console]\nbogus = 1\n",
     "s.ini line 4: unknown key \"bogus\" in [console] (known: viewer, arguments, journal, viewer_wait)"},
    {"[console]\n", "s.ini: no ID in [ids] (lines \"ID = PORT\")"},
    {"viewer = v\n[ids]\n301 = 5901\n", "s.ini line 1: a setting before the first section ([console] or [ids])"},
    {"[ids]\n301 = 5901\n[idz]\n", "s.ini line 3: not a section of these settings: [idz] (sections: [console], [ids])"},
    {"[ids\n301 = 5901\n", "s.ini line 1: not a section of these settings: [ids (sections: [console], [ids])"},
    {"[ids] x\n301 = 5901\n", "s.ini line 1: not a section of these settings: [ids] x (sections: [console], [ids])"},
    {"[ids]\n301 5901\n", "s.ini line 2: not a \"key = value\" line"},
    {"[ids]\n301 = 5901 ; the first\n",
     "s.ini line 2: the port of ID 301 must be a number from 1 to 65535, not \"5901 ; the first\""},
    {"[ids]\n; a comment\n301 = 5901\n", "s.ini line 2: comments begin with '#'"},
    {"[ids]\nA1 = 5901\n", "s.ini line 2: an ID is 1 to 9 digits, not \"A1\""},
    {"[ids]\n1234567890 = 5901\n", "s.ini line 2: an ID is 1 to 9 digits, not \"1234567890\""},
    {"[ids]\n301 = 0\n", "s.ini line 2: the port of ID 301 must be a number from 1 to 65535, not \"0\""},
    {"[ids]\n301 = 65536\n", "s.ini line 2: the port of ID 301 must be a number from 1 to 65535, not \"65536\""},
    {"[ids]\n301 = 65535\n", ""},
    {"[ids]\n301 = -1\n", "s.ini line 2: the port of ID 301 must be a number from 1 to 65535, not \"-1\""},
    {"[ids]\n301 = 5901\n\n301 = 5902\n", "s.ini line 4: ID 301 is given twice"},
    {"[ids]\n301 = 5901\n302 = 5901\n", "s.ini line 3: port 5901 is given to ID 301 already"},
    {"[ids]\n301 = 5901\n[console]\nviewer = a\nviewer = b\n", "s.ini line 5: \"viewer\" is given twice"},
    {"[ids]\n301 = 5901\n[console]\njournal =\n", "s.ini line 4: \"journal\" has no value"},
    {"[ids]\n301 = 5901\n[console]\narguments = -listen 5500\n",
     "s.ini line 4: the viewer's arguments lack {port}, the one-time port it must connect to"},
    {"[ids]\n301 = 5901\n[console]\nviewer_wait = 0\n",
     "s.ini line 4: viewer_wait must be a number of seconds from 1 to 3600, not \"0\""},
    {"[ids]\n301 = 5901\n[console]\nviewer_wait = 3601\n",
     "s.ini line 4: viewer_wait must be a number of seconds from 1 to 3600, not \"3601\""},
    {"[ids]\n301 = 5901\n[console]\nviewer_wait = 2s\n",
     "s.ini line 4: viewer_wait must be a number of seconds from 1 to 3600, not \"2s\""},
    {"\xEF\xBB\xBF[ids]\r\n301 = 5901\r\n", ""},
    {"\xEF\xBB\xBF[ids]\r\n301 = 5901\r\nx\r\n", "s.ini line 3: not a \"key = value\" line"},
};

TEST(TechnicianSettings, EveryWrongLineIsRefusedWithItsNumber) {
  brol_test::temp_dir dir;
  for (const refusal_row& row : k_rows) {
    SCOPED_TRACE(row.text);
    brol_test::write_file(dir.file("s.ini"), row.text);
    tech_settings settings;
    std::string error;
    const bool good = tech_settings_load(dir.file("s.ini").c_str(), &settings, &error);
    EXPECT_EQ(good, *row.error == '\0');
    EXPECT_EQ(error, row.error);
  }
}

TEST(TechnicianSettings, MissingFileIsNamed) {
  brol_test::temp_dir dir;
  tech_settings settings;
  std::string error;
  EXPECT_FALSE(tech_settings_load(dir.file("none.ini").c_str(), &settings, &error));
  EXPECT_EQ(error.find("cannot read the settings "), 0u) << error;
  EXPECT_NE(error.find("none.ini"), std::string::npos) << error;
}

TEST(TechnicianSettings, ValuesComeThroughQuotedAndInOrder) {
  brol_test::temp_dir dir;
  brol_test::write_file(dir.file("s.ini"),
                        "[console]\nviewer = \"C:\\Program Files\\TigerVNC\\vncviewer.exe\"\n"
                        "arguments =  -ViewOnly\t127.0.0.1::{port}  -x={port}{port}\nviewer_wait = 7\n"
                        "[ids]\n302 = 5902\n 301 = 5901\n");
  tech_settings s;
  std::string error;
  ASSERT_TRUE(tech_settings_load(dir.file("s.ini").c_str(), &s, &error)) << error;
  EXPECT_EQ(s.viewer, "C:\\Program Files\\TigerVNC\\vncviewer.exe");
  EXPECT_EQ(s.viewer_wait_seconds, 7);
  EXPECT_EQ(s.journal, "technician-journal.log");
  ASSERT_EQ(s.ids.size(), 2u);
  EXPECT_EQ(s.ids[0].id, "302");
  EXPECT_EQ(s.ids[0].port, 5902);
  EXPECT_EQ(s.ids[1].id, "301");
  EXPECT_EQ(s.ids[1].port, 5901);
  const std::vector<std::string> expected = {"-ViewOnly", "127.0.0.1::40123", "-x=4012340123"};
  EXPECT_EQ(tech_viewer_arguments(s, 40123), expected);
}

TEST(TechnicianSettings, TheWrittenExampleIsGoodAndUsesTheDefaults) {
  brol_test::temp_dir dir;
  std::string error;
  ASSERT_TRUE(tech_settings_write_example(dir.file("t.ini").c_str(), &error)) << error;
  EXPECT_EQ(brol_test::read_file(dir.file("t.ini")), tech_settings_example_text());
  tech_settings from_example;
  ASSERT_TRUE(tech_settings_load(dir.file("t.ini").c_str(), &from_example, &error)) << error;
  brol_test::write_file(dir.file("d.ini"), "[ids]\n301 = 5901\n");
  tech_settings defaults;
  ASSERT_TRUE(tech_settings_load(dir.file("d.ini").c_str(), &defaults, &error)) << error;
  EXPECT_EQ(from_example.viewer, defaults.viewer);
  EXPECT_EQ(from_example.arguments, defaults.arguments);
  EXPECT_EQ(from_example.journal, defaults.journal);
  EXPECT_EQ(from_example.viewer_wait_seconds, defaults.viewer_wait_seconds);
  ASSERT_EQ(from_example.ids.size(), 1u);
  EXPECT_EQ(from_example.ids[0].port, 5901);
}

TEST(TechnicianSettings, JournalPathIsBesideTheSettingsUnlessAbsolute) {
  const struct {
    const char* journal;
    const char* settings;
    const char* expected;
  } rows[] = {
      {"j.log", "/opt/kit/technician.ini", "/opt/kit/j.log"},
      {"j.log", "C:\\kit\\technician.ini", "C:\\kit\\j.log"},
      {"j.log", "technician.ini", "j.log"},
      {"/var/log/j.log", "/opt/kit/technician.ini", "/var/log/j.log"},
      {"D:\\logs\\j.log", "C:\\kit\\technician.ini", "D:\\logs\\j.log"},
      {"logs/j.log", "/opt/kit/technician.ini", "/opt/kit/logs/j.log"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(tech_journal_path(row.journal, row.settings), row.expected) << row.journal << " " << row.settings;
  }
}

}  // namespace
