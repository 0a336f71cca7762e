// The PROXY line (version 1): its reader and its parser.
#include "technician/technician_proxy.h"

#include <cstdlib>
#include <vector>

namespace {

// The longest line the protocol allows, CR LF included.
constexpr std::size_t k_longest = 107;

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= line.size()) {
    const std::size_t space = line.find(' ', start);
    const std::size_t end = space == std::string::npos ? line.size() : space;
    out.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool is_port(const std::string& text) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return std::atol(text.c_str()) <= 65535;
}

bool is_ipv4(const std::string& text) {
  int parts = 0;
  std::size_t start = 0;
  while (parts < 4) {
    std::size_t end = text.find('.', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string part = text.substr(start, end - start);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
        std::atoi(part.c_str()) > 255) {
      return false;
    }
    ++parts;
    if (end == text.size()) {
      break;
    }
    start = end + 1;
  }
  return parts == 4 && start <= text.size() && text.find('.', start) == std::string::npos && text.back() != '.';
}

// Hexadecimal groups and colons (a dotted IPv4 tail allowed), at most one "::": the shapes an IPv6
// text takes; the exact group count is the sender's business.
bool is_ipv6(const std::string& text) {
  if (text.size() < 2 || text.size() > 45 || text.find(':') == std::string::npos ||
      text.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) {
    return false;
  }
  const std::size_t gap = text.find("::");
  return text.find(":::") == std::string::npos &&
         (gap == std::string::npos || text.find("::", gap + 1) == std::string::npos);
}

}  // namespace

bool tech_proxy_parse(const std::string& line, std::string* customer, std::string* why) {
  const std::vector<std::string> f = fields_of(line);
  if (f[0] != "PROXY" || f.size() < 2) {
    *why = "not a PROXY line";
    return false;
  }
  if (f[1] == "UNKNOWN") {
    *customer = "unknown";
    return true;
  }
  if ((f[1] != "TCP4" && f[1] != "TCP6") || f.size() != 6) {
    *why = "the PROXY line's protocol or field count is wrong";
    return false;
  }
  const bool four = f[1] == "TCP4";
  if (!(four ? is_ipv4(f[2]) && is_ipv4(f[3]) : is_ipv6(f[2]) && is_ipv6(f[3]))) {
    *why = "the PROXY line's addresses are not " + std::string(four ? "IPv4" : "IPv6");
    return false;
  }
  if (!is_port(f[4]) || !is_port(f[5])) {
    *why = "the PROXY line's ports are wrong";
    return false;
  }
  *customer = four ? f[2] + ":" + f[4] : "[" + f[2] + "]:" + f[4];
  return true;
}

int tech_proxy_reader::add(char byte) {
  if (state_ != 0) {
    return -1;
  }
  line_.push_back(byte);
  if (byte == '\n') {
    if (line_.size() < 2 || line_[line_.size() - 2] != '\r') {
      why_ = "the PROXY line does not end with CR LF";
      return state_ = -1;
    }
    line_.resize(line_.size() - 2);
    return state_ = tech_proxy_parse(line_, &customer_, &why_) ? 1 : -1;
  }
  if (line_.size() >= k_longest || (line_.size() <= 6 && line_ != std::string("PROXY ").substr(0, line_.size()))) {
    why_ = line_.size() >= k_longest ? "the PROXY line is too long" : "not a PROXY line";
    return state_ = -1;
  }
  return 0;
}
