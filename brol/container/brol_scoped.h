// brol_scoped<T>: a record that initialises itself and is released when its scope ends.
#pragma once

namespace brol::detail {

template <class T, class... Arguments>
concept scoped_init = requires(T& record, Arguments... arguments) { record.init(arguments...); };

template <class T, class Text>
concept scoped_text = requires(T& record, Text text) { record.init_from(text); };

}  // namespace brol::detail

// Any record with init and destroy (brol_string, brol_string_array, brol_stream, brol_list,
// brol_dict, brol_config, brol_replace_file) wrapped for callers who want the release tied to a
// scope: the constructor runs init with the given arguments (brol_scoped<brol_stream> s(8192) calls
// init(8192); a brol_string with one text argument runs init_from), and the destructor runs destroy.
// It is the record itself (derived from it), so every operation is called on it directly and it is
// passed wherever a T& is taken. Like the record it is never copied; it cannot be moved either, since
// other records may point to it (a stream armed in the watch, an element pointer into a list).
// Whatever init reports (brol_string_array::init is false without storage) leaves a usable, empty
// record, which the caller may check as after a plain init.
template <class T>
  requires requires(T& record) { record.destroy(); }
struct brol_scoped : T {
  // init() for a record whose init takes no arguments.
  brol_scoped() noexcept
    requires brol::detail::scoped_init<T>
  {
    T::init();
  }
  // init(first, rest...), or init_from(first) for a record that has it and no such init.
  template <class First, class... Rest>
    requires brol::detail::scoped_init<T, First, Rest...> ||
             (sizeof...(Rest) == 0 && brol::detail::scoped_text<T, First>)
  explicit brol_scoped(First first, Rest... rest) noexcept {
    if constexpr (brol::detail::scoped_init<T, First, Rest...>) {
      T::init(first, rest...);
    } else {
      T::init_from(first);
    }
  }
  ~brol_scoped() { T::destroy(); }

  brol_scoped(const brol_scoped&) = delete;
  brol_scoped& operator=(const brol_scoped&) = delete;
};
