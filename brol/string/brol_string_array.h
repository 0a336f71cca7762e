// brol_string_array: a growable array of owned brol_string values, and the splitting of a text into one.
#pragma once

#include <cstdint>

#include "brol/string/brol_string.h"

// A plain record: `init` before use, `destroy` after. The array owns its elements. Growth moves the
// element records to new storage (a brol_string holds no pointer into itself), so element pointers
// are stale after `add`; the texts the elements own stay where they are.
struct brol_string_array {
  brol_string* begin;     // first element of the storage, null without storage
  std::int32_t capacity;  // elements the storage holds
  brol_string* end;       // behind the last element in use

  // Never copied by the language (two arrays would own the same elements); the default constructor
  // leaves the fields as they are: init before use.
  brol_string_array() = default;
  brol_string_array(const brol_string_array&) = delete;
  brol_string_array& operator=(const brol_string_array&) = delete;

  // Storage for initial_capacity elements (at least one), none in use. False when the storage could
  // not be allocated: the array is then empty with capacity 0, usable, and add starts from one place.
  bool init(std::int32_t initial_capacity = 8) noexcept;
  // Destroys every element and frees the storage; the array is left empty with capacity 0, so
  // releasing twice is harmless.
  void destroy() noexcept;
  // Appends n empty elements and returns the first of them (for n = 0: end). When fewer than n places
  // are free the capacity is doubled until they fit and the elements move to the new storage. Null,
  // with the array unchanged, for a negative n, when the element count would pass the 32-bit range,
  // and when the storage cannot be allocated.
  brol_string* add(std::int32_t n) noexcept;
  // The number of elements in use.
  std::int32_t size() const noexcept;
};

// Adds one element per piece of src cut at every delim byte, empty pieces included: a,,b adds a, the
// empty text and b; the empty text adds one empty element. A null src counts as empty; a delim of 0
// cuts nothing (the terminating NUL is never a delim). src may point into an element's text. True
// when every element was added and filled; false at the first that could not be (an allocation
// failed), with the elements added before it kept, the last of them possibly empty with error 1.
bool brol_split(const char* src, brol_string_array& array, char delim) noexcept;
// As brol_split, cutting at every byte that occurs in separators (null or empty: no cuts).
bool brol_split_any(const char* src, brol_string_array& array, const char* separators) noexcept;
