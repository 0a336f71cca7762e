// The PROXY line (version 1) that the tunnel server sends before a connection's bytes: it carries the
// customer's address. Read byte by byte so that nothing after it is taken from the connection.
#pragma once

#include <cstddef>
#include <string>

// Collects one PROXY line. add takes the next byte: 0 while the line goes on, 1 when the line ended
// with CR LF and is a valid one (customer() then holds the address), -1 when it cannot be one (too
// long, a byte that does not belong, a wrong field); after 1 or -1 further bytes are refused (-1).
struct tech_proxy_reader {
  int add(char byte);
  // "10.0.0.2:40312", "[fd00::2]:40312", or "unknown" for "PROXY UNKNOWN".
  const std::string& customer() const { return customer_; }
  // Why the line was refused (after -1), for the journal.
  const std::string& why() const { return why_; }

 private:
  std::string line_;
  std::string customer_;
  std::string why_;
  int state_ = 0;
};

// Parses one whole line without its CR LF: "PROXY TCP4 SRC DST SPORT DPORT", the same with TCP6, or
// "PROXY UNKNOWN" with anything after it. True with *customer the source as above; false with *why.
bool tech_proxy_parse(const std::string& line, std::string* customer, std::string* why);
