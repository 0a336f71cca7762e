// Shared by the configuration tests: a self-releasing configuration that shows its whole text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "brol/config/brol_config.h"
#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"

namespace config_test {

struct config : brol_scoped<brol_config> {
  // The whole text as save would write it.
  std::string text() const {
    brol_scoped<brol_string> out;
    EXPECT_TRUE(to_text(out));
    return out.c_str();
  }
};

}  // namespace config_test
