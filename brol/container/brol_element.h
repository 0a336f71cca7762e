// How the containers construct, copy and release the values they own.
#pragma once

#include <type_traits>

#include "brol/string/brol_string.h"

namespace brol::detail {

template <class T>
concept has_init = requires(T& value) { value.init(); };

template <class T>
concept has_destroy = requires(T& value) { value.destroy(); };

}  // namespace brol::detail

// Records with `init`/`destroy` (brol_string, brol_list, ...) are constructed empty with init and
// released with destroy. Other types (pointers, numbers, plain structs) start value-initialised (a
// pointer null) and need no release; only the pointer is owned, not what it points to.
// `init_copy` constructs value as a copy of source and is false, leaving nothing to release, when the
// copy could not be made; it exists for plain copyable types and for brol_string. Other records can
// specialise this template to be copied into a container.
template <class T>
struct brol_element {
  // Constructs value empty: init for a record, a value-initialised T otherwise.
  static void init(T& value) noexcept {
    if constexpr (brol::detail::has_init<T>) {
      value.init();
    } else {
      value = T{};
    }
  }

  // Releases value: destroy for a record, nothing otherwise.
  static void destroy(T& value) noexcept {
    if constexpr (brol::detail::has_destroy<T>) {
      value.destroy();
    }
  }

  // Constructs value as a copy of source; always true for a plain copyable type.
  static bool init_copy(T& value, const T& source) noexcept
    requires(std::is_trivially_copyable_v<T> && !brol::detail::has_destroy<T>)
  {
    value = source;
    return true;
  }
};

// Strings are copied with init_copy; a copy that cannot be made leaves nothing to release.
template <>
struct brol_element<brol_string> {
  // An empty string.
  static void init(brol_string& value) noexcept { value.init(); }
  // Frees the string's buffer.
  static void destroy(brol_string& value) noexcept { value.destroy(); }
  // value.init_copy(source); false, with value released, when its allocation failed.
  static bool init_copy(brol_string& value, const brol_string& source) noexcept {
    value.init_copy(source);
    if (value.error != 0) {
      value.destroy();
      return false;
    }
    return true;
  }
};
