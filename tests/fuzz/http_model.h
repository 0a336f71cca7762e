// The model of an HTTP answer shared by the download fuzz targets: whether the download accepts it,
// and the body it then keeps.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "brol/net/brol_httpget.h"

namespace fuzz {

// The body the contract promises for answer (as far as it arrives), or false when it is refused:
// accepted exactly when the first 18 bytes of the status line (CR left out) hold "200", an empty line
// ends the header, and the head with its line ends takes at most brol_http_head_limit bytes.
inline bool expected_body(const std::string& answer, std::string* body) {
  const std::size_t end_of_status = answer.find('\n');
  std::string status;
  for (std::size_t i = 0; i < 18 && i < answer.size() && i != end_of_status; ++i) {
    if (answer[i] != '\r') status.push_back(answer[i]);
  }
  // The status text is a C string: a NUL in it ends what is searched.
  if (std::strstr(status.c_str(), "200") == nullptr || end_of_status == std::string::npos) return false;
  std::size_t length = 0;
  for (std::size_t i = end_of_status + 1; i < answer.size(); ++i) {
    if (answer[i] == '\n' && length == 0) {
      if (static_cast<std::int64_t>(i + 1) > brol_http_head_limit) return false;
      *body = answer.substr(i + 1);
      return true;
    }
    length = answer[i] == '\n' ? 0 : answer[i] == '\r' ? length : length + 1;
  }
  return false;
}

}  // namespace fuzz
