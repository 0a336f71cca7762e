// The journal's texts, word for word: the end-to-end test and the technician read them.
#include "technician/technician_journal.h"

#include <gtest/gtest.h>

#include "brol_test_support.h"

namespace {

TEST(TechnicianJournal, EndedLinesSayHowTheSessionEnded) {
  const struct {
    tech_end how;
    const char* detail;
    const char* reason;
  } rows[] = {
      {tech_end::customer_ended, "", "the customer's side ended"},
      {tech_end::customer_failed, "Connection timed out", "the customer's side failed: Connection timed out"},
      {tech_end::viewer_closed, "", "the viewer was closed"},
      {tech_end::viewer_failed, "Broken", "the viewer's side failed: Broken"},
      {tech_end::viewer_timeout, "20", "the viewer did not connect within 20 s"},
      {tech_end::viewer_exited, "", "the viewer ended before it connected"},
      {tech_end::viewer_not_started, "v: No such file", "the viewer could not be started: v: No such file"},
      {tech_end::no_port, "Too many open files", "no one-time port for the viewer: Too many open files"},
      {tech_end::bad_proxy, "not a PROXY line", "no customer address from the tunnel server: not a PROXY line"},
      {tech_end::stopped, "", "the console was stopped"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(tech_text_ended({4, 61, 1234567, 89}, row.how, row.detail),
              std::string("session 4 ended after 61 s, 1234567 bytes to the viewer, 89 bytes to the customer: ") +
                  row.reason);
  }
  EXPECT_EQ(tech_text_ended({1, 0, 1, 0}, tech_end::stopped, ""),
            "session 1 ended after 0 s, 1 byte to the viewer, 0 bytes to the customer: the console was stopped");
}

TEST(TechnicianJournal, EventLines) {
  EXPECT_EQ(tech_text_started(12, "301", "10.0.0.2:40312"), "session 12 started: ID 301, customer 10.0.0.2:40312");
  EXPECT_EQ(tech_text_viewer_connected(12, 41000), "session 12: viewer connected on 127.0.0.1:41000");
  EXPECT_EQ(tech_text_listening("302", 5902), "ID 302: listening on 127.0.0.1:5902");
  EXPECT_EQ(tech_text_not_served("302", 5902, "Address already in use"),
            "ID 302: not served, 127.0.0.1:5902 cannot be opened: Address already in use");
}

TEST(TechnicianJournal, FileLinesCarryDateProcessAndIdent) {
  brol_test::temp_dir dir;
  const std::string path = dir.file("journal.log");
  tech_journal_open(path.c_str());
  testing::internal::CaptureStdout();
  tech_journal("session 1 started: ID 301, customer unknown");
  const std::string printed = testing::internal::GetCapturedStdout();
  const std::string line = brol_test::read_file(path);
  EXPECT_EQ(printed, line);
  const std::string tail = " technician: session 1 started: ID 301, customer unknown\n";
  ASSERT_GT(line.size(), 20 + tail.size());
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[13], ':');
  EXPECT_EQ(line.substr(19, 2), " (");
}

}  // namespace
