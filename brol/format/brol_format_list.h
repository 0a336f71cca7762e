// Item lists given as arguments: the compile-time reading of a list's arguments, by the table of
// item codes (brol_format_codes.h), that the template entries (brol_format, append_format,
// write_format) use to refuse a mistaken list and to turn a correct one into its 64-bit items.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "brol/format/brol_format_codes.h"

namespace brol::detail {

template <class>
inline constexpr bool always_false = false;

// What one argument of a list is, read from its type.
enum class arg_kind : unsigned char {
  code,              // a brol_fmt_code
  integer,           // an integer, a character, bool or an enumeration
  real,              // a float or a double
  long_double,       // a long double by value (it travels by its address)
  text,              // a char pointer
  null,              // nullptr
  extended_address,  // the address of a long double
  pair_address,      // the address of 32- or 64-bit signed integers
  other_address,     // any other object pointer
  other,             // anything else (a class, a function pointer, ...)
};

struct arg_info {
  arg_kind kind;
  brol_item code;               // for arg_kind::code
  unsigned char element_bytes;  // for arg_kind::pair_address: 4 or 8
};

template <class T>
struct code_of_type {
  static constexpr bool is_code = false;
  static constexpr brol_item value = 0;
};
template <brol_item Code>
struct code_of_type<brol_fmt_code<Code>> {
  static constexpr bool is_code = true;
  static constexpr brol_item value = Code;
};

template <class T>
constexpr arg_info info_of() noexcept {
  using U = std::remove_cv_t<T>;
  if constexpr (code_of_type<U>::is_code) {
    return {arg_kind::code, code_of_type<U>::value, 0};
  } else if constexpr (std::is_same_v<U, brol_fmt_flag_bits>) {
    return {arg_kind::code, k_first_flag, 0};
  } else if constexpr (std::is_integral_v<U> || std::is_enum_v<U>) {
    return {arg_kind::integer, 0, 0};
  } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
    return {arg_kind::real, 0, 0};
  } else if constexpr (std::is_same_v<U, long double>) {
    return {arg_kind::long_double, 0, 0};
  } else if constexpr (std::is_null_pointer_v<U>) {
    return {arg_kind::null, 0, 0};
  } else if constexpr (std::is_pointer_v<U> && std::is_object_v<std::remove_pointer_t<U>>) {
    using P = std::remove_cv_t<std::remove_pointer_t<U>>;
    if constexpr (std::is_same_v<P, char>) {
      return {arg_kind::text, 0, 0};
    } else if constexpr (std::is_same_v<P, long double>) {
      return {arg_kind::extended_address, 0, 0};
    } else if constexpr (std::is_integral_v<P> && std::is_signed_v<P> && (sizeof(P) == 4 || sizeof(P) == 8)) {
      return {arg_kind::pair_address, 0, static_cast<unsigned char>(sizeof(P))};
    } else {
      return {arg_kind::other_address, 0, 0};
    }
  } else {
    return {arg_kind::other, 0, 0};
  }
}

// The mistakes a list given as arguments can hold.
enum class list_error : unsigned char {
  none,
  value_at_item_start,  // a number or a double where an item must begin
  address_at_item_start,
  null_at_item_start,
  object_at_item_start,
  not_a_code,
  missing_values,  // the list ends where a value goes
  code_for_value,  // a code where a value goes
  real_for_integer,
  long_double_value,
  integer_for_real,
  text_for_number,  // a text or other address where a number goes
  object_for_value,
  number_for_address,
  wrong_pair,
  items_after_end,
};

// How each argument is used: the template entries turn a literal's null pointer into the empty text,
// and a size code into one that fits the type of the value after it (fit_size).
enum class arg_role : unsigned char {
  literal,
  code,
  value,
  unread,
  size_of_integer,   // 1, 2, 4 or 8; any other: 8, the value as given
  size_of_double,    // 4 or 8; any other: 8
  size_of_extended,  // 16: the value is the address of a long double (or null)
  size_of_fixed,     // 4 or 8; any other: 8, the 32.32 value as given
  size_of_pair32,    // 8: the address of two int32
  size_of_pair64,    // 16: the address of two int64
  size_as_given,     // a null pair address, which reads as 0 over 1 whatever the size
};

// The size code that the engine reads for `size` given before a value of the kind Role tells: the
// one given where it fits that value, else the one that reads the value as what it is, so that no
// value is read as an address unless it was given as one and no address is read past its object.
template <arg_role Role>
constexpr brol_item fit_size(brol_item size) noexcept {
  if constexpr (Role == arg_role::size_of_integer) {
    return size == 1 || size == 2 || size == 4 || size == 8 ? size : 8;
  } else if constexpr (Role == arg_role::size_of_double || Role == arg_role::size_of_fixed) {
    return size == 4 || size == 8 ? size : 8;
  } else if constexpr (Role == arg_role::size_of_extended || Role == arg_role::size_of_pair64) {
    return 16;
  } else if constexpr (Role == arg_role::size_of_pair32) {
    return 8;
  } else {
    return size;
  }
}

// The role of the size code read by `rule` before the value `value`.
constexpr arg_role size_role(size_rule rule, const arg_info& value) noexcept {
  switch (value.kind) {
    case arg_kind::real:
      return arg_role::size_of_double;
    case arg_kind::extended_address:
      return arg_role::size_of_extended;
    case arg_kind::pair_address:
      return value.element_bytes == 4 ? arg_role::size_of_pair32 : arg_role::size_of_pair64;
    case arg_kind::null:
      return rule == size_rule::floating ? arg_role::size_of_extended : arg_role::size_as_given;
    default:
      return rule == size_rule::fixed ? arg_role::size_of_fixed : arg_role::size_of_integer;
  }
}

template <std::size_t N>
struct list_reading {
  list_error error = list_error::none;
  std::size_t argument = 0;  // 1-based position of the mistaken argument in the list
  arg_role roles[N == 0 ? 1 : N] = {};
};

constexpr list_error check_slot(slot s, arg_kind k) noexcept {
  if (k == arg_kind::code) return list_error::code_for_value;
  if (k == arg_kind::other) return list_error::object_for_value;
  if (k == arg_kind::long_double) return list_error::long_double_value;
  const bool number = k == arg_kind::integer || k == arg_kind::real;
  switch (s) {
    case slot::none:
    case slot::integer:
    case slot::size:
      if (k == arg_kind::integer) return list_error::none;
      return k == arg_kind::real ? list_error::real_for_integer : list_error::text_for_number;
    case slot::real:
      if (k == arg_kind::real || k == arg_kind::extended_address || k == arg_kind::null) return list_error::none;
      return k == arg_kind::integer ? list_error::integer_for_real : list_error::text_for_number;
    case slot::text:
      if (k == arg_kind::text || k == arg_kind::null) return list_error::none;
      return number ? list_error::number_for_address : list_error::wrong_pair;
    case slot::bytes:
      return number ? list_error::number_for_address : list_error::none;
    case slot::pair:
      if (k == arg_kind::pair_address || k == arg_kind::null) return list_error::none;
      return number ? list_error::number_for_address : list_error::wrong_pair;
  }
  return list_error::none;
}

// Walks a list's arguments as the engine will read their items.
template <std::size_t N>
constexpr list_reading<N> read_list(const arg_info (&args)[N]) noexcept {
  list_reading<N> r;
  const auto fail = [&r](list_error e, std::size_t at) {
    r.error = e;
    r.argument = at + 1;
    return r;
  };
  std::size_t at = 0;
  while (at < N) {
    const arg_info a = args[at];
    switch (a.kind) {
      case arg_kind::text:
        r.roles[at++] = arg_role::literal;
        continue;
      case arg_kind::code:
        break;
      case arg_kind::integer:
      case arg_kind::real:
      case arg_kind::long_double:
        return fail(list_error::value_at_item_start, at);
      case arg_kind::null:
        return fail(list_error::null_at_item_start, at);
      case arg_kind::extended_address:
      case arg_kind::pair_address:
      case arg_kind::other_address:
        return fail(list_error::address_at_item_start, at);
      case arg_kind::other:
        return fail(list_error::object_at_item_start, at);
    }
    const code_entry shape = entry_of(a.code);
    if (shape.kind == item_kind::unknown || shape.kind == item_kind::literal) return fail(list_error::not_a_code, at);
    r.roles[at] = arg_role::code;
    if (shape.kind == item_kind::end) {
      if (at + 1 < N) return fail(list_error::items_after_end, at + 1);
      return r;
    }
    for (unsigned k = 0; k < shape.count; ++k) {
      const std::size_t v = at + 1 + k;
      if (v >= N) return fail(list_error::missing_values, at);
      const list_error e = check_slot(shape.slots[k], args[v].kind);
      if (e != list_error::none) return fail(e, v);
      r.roles[v] = arg_role::value;
    }
    if (shape.sizes != size_rule::none) r.roles[at + 1] = size_role(shape.sizes, args[at + 2]);
    at += 1 + shape.count;
  }
  return r;
}

// One failed static_assert per mistake, so that the compiler names it; Argument is the mistaken
// argument's place in the list (1 for the first item).
template <list_error E, std::size_t Argument>
struct list_mistake {
  static_assert(E != list_error::value_at_item_start,
                "item list: a value stands where an item must begin (a number or a double on its own); an "
                "item begins with a literal text, a conversion (brol_fmt_int, 4, value), a modifier or a flag");
  static_assert(E != list_error::address_at_item_start,
                "item list: a pointer that is no text stands where an item must begin; a literal text is a "
                "char pointer");
  static_assert(E != list_error::null_at_item_start,
                "item list: nullptr stands where an item must begin; end a list with brol_fmt_end or nothing");
  static_assert(E != list_error::object_at_item_start,
                "item list: an object stands where an item must begin; pass a text as its char pointer "
                "(c_str())");
  static_assert(E != list_error::not_a_code, "item list: the code is no conversion, modifier or flag");
  static_assert(E != list_error::missing_values,
                "item list: a conversion or modifier is missing its values at the end of the list");
  static_assert(E != list_error::code_for_value,
                "item list: a conversion or modifier is missing its values (a code stands where its value goes)");
  static_assert(E != list_error::real_for_integer, "item list: a double stands where an integer goes");
  static_assert(E != list_error::long_double_value,
                "item list: a long double travels by its address, with brol_fmt_float and size code 16");
  static_assert(E != list_error::integer_for_real,
                "item list: an integer stands where a double goes (brol_fmt_float takes a double, or the address "
                "of a long double with size code 16)");
  static_assert(E != list_error::text_for_number, "item list: a text or other address stands where a number goes");
  static_assert(E != list_error::object_for_value,
                "item list: an object stands where a value goes; values are numbers, characters and addresses");
  static_assert(E != list_error::number_for_address, "item list: a number stands where a text or other address goes");
  static_assert(E != list_error::wrong_pair,
                "item list: the address is of the wrong kind (brol_fmt_strn takes a char pointer, brol_fmt_ratio "
                "the address of two int32 or two int64)");
  static_assert(E != list_error::items_after_end, "item list: items after brol_fmt_end are never read");
  static constexpr bool ok = E == list_error::none;
};

// The reading of the list whose arguments have the types Args.
template <class... Args>
struct checked_list {
  static constexpr arg_info infos[sizeof...(Args)] = {info_of<Args>()...};
  static constexpr list_reading<sizeof...(Args)> reading = read_list(infos);
  static constexpr bool ok = list_mistake<reading.error, reading.argument>::ok;
};

// The empty text that a null literal becomes: values below 4096 are codes, and 0 would end the list.
inline constexpr char empty_text[1] = {'\0'};

// One argument of a list as its 64-bit item: a code as its value, a pointer as its address (a null
// literal as the empty text), an integer sign- or zero-extended, a float or double as the bits of a
// double.
template <arg_role Role = arg_role::value, class T>
inline brol_item to_item(T value) noexcept {
  if constexpr (code_of_type<std::remove_cv_t<T>>::is_code) {
    return code_of_type<std::remove_cv_t<T>>::value;
  } else if constexpr (std::is_same_v<std::remove_cv_t<T>, brol_fmt_flag_bits>) {
    return value.value;
  } else if constexpr (std::is_null_pointer_v<T>) {
    return 0;
  } else if constexpr (std::is_pointer_v<T>) {
    if constexpr (Role == arg_role::literal) {
      if (value == nullptr) return static_cast<brol_item>(reinterpret_cast<std::uintptr_t>(empty_text));
    }
    return static_cast<brol_item>(reinterpret_cast<std::uintptr_t>(value));
  } else if constexpr (std::is_enum_v<T>) {
    return to_item<Role>(static_cast<std::underlying_type_t<T>>(value));
  } else if constexpr (Role >= arg_role::size_of_integer) {
    return fit_size<Role>(to_item(value));
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    return static_cast<brol_item>(static_cast<std::int64_t>(value));
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<brol_item>(value);
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    return std::bit_cast<brol_item>(static_cast<double>(value));
  } else {
    static_assert(always_false<T>, "item list: this argument has no item");
    return 0;
  }
}

// The items of a checked list after the first, closed by 0, as brol_vformat reads them. (The first
// item goes by value, apart: kept out of the array, it is never stored.)
template <std::size_t Rest>
struct item_array {
  brol_item items[Rest + 1];
};

template <class First, class... Items, std::size_t... I>
inline item_array<sizeof...(Items)> make_rest(std::index_sequence<I...>, Items... items) noexcept {
  constexpr const auto& roles = checked_list<First, Items...>::reading.roles;
  return {{to_item<roles[I + 1]>(items)..., brol_item{0}}};
}

// The items after the first of the list (first, items...), checked at compile time: a mistaken list
// does not compile.
template <class First, class... Items>
inline item_array<sizeof...(Items)> rest_items(First, Items... items) noexcept {
  if constexpr (checked_list<First, Items...>::ok) {
    return make_rest<First>(std::index_sequence_for<Items...>{}, items...);
  } else {
    return {};
  }
}

// The first item of the list (first, items...).
template <class First, class... Items>
inline brol_item first_item(First first, Items...) noexcept {
  if constexpr (checked_list<First, Items...>::ok) {
    return to_item<checked_list<First, Items...>::reading.roles[0]>(first);
  } else {
    return 0;
  }
}

}  // namespace brol::detail
