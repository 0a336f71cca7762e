// The journal: the texts of its lines, and where they go (the library's logger writes them to the
// journal's file, each with its date; the console prints the same lines).
#pragma once

#include <cstdint>
#include <string>

// How a session ended.
enum class tech_end {
  customer_ended,      // the customer's side closed the connection (or its tunnel vanished)
  customer_failed,     // a read or write on the customer's side failed (detail: the reason)
  viewer_closed,       // the viewer closed its connection (the technician closed it)
  viewer_failed,       // a read or write on the viewer's side failed (detail: the reason)
  viewer_timeout,      // the viewer did not connect in time (detail: the seconds)
  viewer_exited,       // the viewer ended before it connected
  viewer_not_started,  // the viewer program could not be started (detail: the reason)
  no_port,             // no one-time port could be opened (detail: the reason)
  bad_proxy,           // the tunnel server sent no valid PROXY line (detail: what was wrong)
  stopped,             // the console was stopped
};

// A session's counts, as the ended line reports them.
struct tech_session_counts {
  std::int64_t number;        // the session's number in this run of the console, from 1
  std::int64_t seconds;       // from the connection to the end
  std::uint64_t to_viewer;    // bytes relayed from the customer to the viewer
  std::uint64_t to_customer;  // bytes relayed from the viewer to the customer
};

std::string tech_text_listening(const std::string& id, std::uint16_t port);
std::string tech_text_not_served(const std::string& id, std::uint16_t port, const std::string& reason);
std::string tech_text_started(std::int64_t session, const std::string& id, const std::string& customer);
std::string tech_text_viewer_connected(std::int64_t session, std::uint16_t port);
std::string tech_text_ended(const tech_session_counts& counts, tech_end how, const std::string& detail);
// How a session ended, as its ended line says it.
std::string tech_text_end_reason(tech_end how, const std::string& detail);

// Sends the journal's lines to the file at path (opened for each line, created when missing) and
// prints each of them on standard output too, the same text as the file's line.
void tech_journal_open(const char* path);
// One journal line with the library's logger.
void tech_journal(const std::string& text);
