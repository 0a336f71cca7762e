// Examples of the API reference's start page: the logger.
#include <cstdint>

#include "brol/log/brol_log.h"
#include "brol/string/brol_string.h"

// [logger]
// A hook that keeps the last message it was given; returning 1 keeps it out of the log file.
static brol_string* last_message = nullptr;
static std::int64_t keep_message(const brol_log_entry* entry) {
  last_message->assign(entry->message);
  return 1;
}

void example_log(brol_string& out) {
  last_message = &out;
  brol_log_hook = keep_message;
  brol_log_level(brol_log_warn, brol_log_to_hook);  // warnings and worse reach the hook
  BROL_LOG(brol_log_info, 0, "not shown: %d", 1);   // above the threshold
  BROL_LOG(brol_log_warn, 0, "disk %s is %d%% full", "C:", 93);
  brol_log_hook = nullptr;
  brol_log_level(brol_log_info, brol_log_to_hook);  // the default threshold again
}
// [logger]
