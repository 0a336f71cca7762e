// Shared by the configuration fuzz targets: a configuration's whole text as save would write it.
#pragma once

#include <string>

#include "brol/config/brol_config.h"
#include "fuzz_check.h"

namespace fuzz {

inline std::string config_text(const brol_config& config) {
  brol_string s;
  s.init();
  FUZZ_CHECK(config.to_text(s));
  std::string out = s.c_str();
  s.destroy();
  return out;
}

}  // namespace fuzz
