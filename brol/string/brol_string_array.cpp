// brol_string_array: storage, growth and release of an array of owned strings.
#include "brol/string/brol_string_array.h"

#include <cstring>
#include <limits>

#include "brol/platform/brol_alloc.h"

namespace {

constexpr std::int64_t k_max_elements = std::numeric_limits<std::int32_t>::max();

// The byte size of the largest storage that the 32-bit capacity allows must not overflow.
static_assert(k_max_elements <= std::numeric_limits<std::int64_t>::max() / std::int64_t{sizeof(brol_string)});

brol_string* allocate_elements(std::int64_t n) noexcept {
  return static_cast<brol_string*>(brol_alloc(n * std::int64_t{sizeof(brol_string)}));
}

// Doubles the capacity (from one place when there is none) until `needed` elements fit and moves the
// elements over. False, with the array unchanged, when the capacity would pass the 32-bit range or
// the storage cannot be allocated.
bool grow(brol_string_array& a, std::int64_t needed) noexcept {
  std::int64_t capacity = a.capacity > 0 ? a.capacity : 1;
  while (capacity < needed) capacity *= 2;
  if (capacity > k_max_elements) return false;
  brol_string* fresh = allocate_elements(capacity);
  if (!fresh) return false;
  const std::int32_t used = a.size();
  for (std::int32_t i = 0; i < used; ++i) fresh[i].init_move(a.begin[i]);
  brol_free(a.begin);
  a.begin = fresh;
  a.end = fresh + used;
  a.capacity = static_cast<std::int32_t>(capacity);
  return true;
}

}  // namespace

bool brol_string_array::init(std::int32_t initial_capacity) noexcept {
  const std::int32_t n = initial_capacity > 0 ? initial_capacity : 1;
  begin = allocate_elements(n);
  end = begin;
  capacity = begin ? n : 0;
  return begin != nullptr;
}

void brol_string_array::destroy() noexcept {
  for (brol_string* e = begin; e != end; ++e) e->destroy();
  brol_free(begin);
  begin = nullptr;
  end = nullptr;
  capacity = 0;
}

brol_string* brol_string_array::add(std::int32_t n) noexcept {
  if (n < 0) return nullptr;
  if (n == 0) return end;
  const std::int32_t used = size();
  if (n > capacity - used) {
    if (n > k_max_elements - used || !grow(*this, std::int64_t{used} + n)) return nullptr;
  }
  brol_string* first = end;
  for (std::int32_t i = 0; i < n; ++i) end[i].init();
  end += n;
  return first;
}

std::int32_t brol_string_array::size() const noexcept { return static_cast<std::int32_t>(end - begin); }
