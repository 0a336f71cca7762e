// The journal's texts and their way to the file (the library's logger) and to the console.
#include "technician/technician_journal.h"

#include <cstdio>
#include <mutex>

#include "brol/log/brol_log.h"
#include "brol/platform/brol_platform.h"
#include "brol/text/brol_gentext.h"

namespace {

constexpr const char* k_ident = "technician";
std::string g_journal_path;
std::mutex g_print;

std::string count_text(std::uint64_t n, const char* unit) {
  return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

// Prints the line as the logger writes it to the file: date, process id, ident, message.
std::int64_t print_line(const brol_log_entry* entry) {
  char date[40];
  if (brol_date_text(date, sizeof date, 1) < 0) {
    date[0] = '\0';
  }
  std::lock_guard<std::mutex> hold(g_print);
  std::printf("%s (%lu) %s: %s\n", date, static_cast<unsigned long>(brol_os.process_id()), k_ident, entry->message);
  std::fflush(stdout);
  return 0;  // not taken: the file gets the line too
}

}  // namespace

std::string tech_text_listening(const std::string& id, std::uint16_t port) {
  return "ID " + id + ": listening on 127.0.0.1:" + std::to_string(port);
}

std::string tech_text_not_served(const std::string& id, std::uint16_t port, const std::string& reason) {
  return "ID " + id + ": not served, 127.0.0.1:" + std::to_string(port) + " cannot be opened: " + reason;
}

std::string tech_text_started(std::int64_t session, const std::string& id, const std::string& customer) {
  return "session " + std::to_string(session) + " started: ID " + id + ", customer " + customer;
}

std::string tech_text_viewer_connected(std::int64_t session, std::uint16_t port) {
  return "session " + std::to_string(session) + ": viewer connected on 127.0.0.1:" + std::to_string(port);
}

std::string tech_text_end_reason(tech_end how, const std::string& detail) {
  switch (how) {
    case tech_end::customer_ended:
      return "the customer's side ended";
    case tech_end::customer_failed:
      return "the customer's side failed: " + detail;
    case tech_end::viewer_closed:
      return "the viewer was closed";
    case tech_end::viewer_failed:
      return "the viewer's side failed: " + detail;
    case tech_end::viewer_timeout:
      return "the viewer did not connect within " + detail + " s";
    case tech_end::viewer_exited:
      return "the viewer ended before it connected";
    case tech_end::viewer_not_started:
      return "the viewer could not be started: " + detail;
    case tech_end::no_port:
      return "no one-time port for the viewer: " + detail;
    case tech_end::bad_proxy:
      return "no customer address from the tunnel server: " + detail;
    case tech_end::stopped:
      return "the console was stopped";
  }
  return "unknown";
}

std::string tech_text_ended(const tech_session_counts& counts, tech_end how, const std::string& detail) {
  return "session " + std::to_string(counts.number) + " ended after " + std::to_string(counts.seconds) + " s, " +
         count_text(counts.to_viewer, "byte") + " to the viewer, " + count_text(counts.to_customer, "byte") +
         " to the customer: " + tech_text_end_reason(how, detail);
}

void tech_journal_open(const char* path) {
  g_journal_path = path;
  brol_log_file = g_journal_path.c_str();
  brol_log_ident = k_ident;
  brol_log_hook = print_line;
  brol_log_level(brol_log_info, brol_log_to_both);
}

void tech_journal(const std::string& text) { brol_log(brol_log_info, "", "", 0, 0, "%s", text.c_str()); }
