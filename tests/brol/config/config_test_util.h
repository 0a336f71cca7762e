// Shared by the configuration tests: a configuration that initialises and releases itself.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "brol/config/brol_config.h"
#include "brol/string/brol_string.h"

namespace config_test {

struct config : brol_config {
  config() { init(); }
  ~config() { destroy(); }
  config(const config&) = delete;
  config& operator=(const config&) = delete;
  // The whole text as save would write it.
  std::string text() const {
    brol_string out;
    out.init();
    EXPECT_TRUE(to_text(out));
    std::string s = out.c_str();
    out.destroy();
    return s;
  }
};

}  // namespace config_test
