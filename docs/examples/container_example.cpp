// Examples of the API reference's start page: the list and the dictionary.
#include <cstdint>

#include "brol/container/brol_dict.h"
#include "brol/container/brol_list.h"
#include "brol/container/brol_scoped.h"
#include "brol/string/brol_string.h"
#include "brol/string/brol_string_array.h"

// [containers]
// Counts the words of text (cut at blanks) in insertion order and lists them as "word=count" in out,
// a list of strings that owns its elements.
bool example_containers(const char* text, brol_list<brol_string>& out) {
  brol_scoped<brol_string_array> words;  // init(8)
  if (!brol_split(text, words, ' ')) return false;
  brol_scoped<brol_dict<std::int32_t>> counts;
  for (brol_string* w = words.begin; w != words.end; ++w) {
    if (w->is_empty()) continue;
    std::int32_t* count = counts.find_or_add(w->c_str());  // a new key starts at 0
    if (count == nullptr) return false;
    ++*count;
  }
  brol_dict_iter<std::int32_t> it;
  for (it.begin(counts); it.value() != nullptr; it.advance()) {
    brol_string* line = out.add(nullptr);  // an empty string owned by the list
    if (line == nullptr || !line->append_format(it.key(), "=", brol_fmt_int, 4, *it.value())) {
      return false;
    }
  }
  return true;
}
// [containers]
