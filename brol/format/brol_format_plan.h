// Lists planned at compile time: where brol_format is given its list as arguments, the list's shape
// is known to the compiler (which arguments are literals, codes and values), so the item loop's work
// of telling them apart is done there. What is left runs the engine's own steps (brol_format_steps.h)
// in the list's order, with the settings resolved: the same bytes as the engine writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "brol/format/brol_format_steps.h"

namespace brol::detail {

// One step of a planned list; `arg` is the place of its first argument in the list.
struct plan_op {
  enum kind_t : unsigned char {
    op_reset,          // the settings back to their defaults (a modifier or flag touched them)
    op_plain_literal,  // a literal under the default settings
    op_literal,        // a literal under settings
    op_integer,        // brol_fmt_int or brol_fmt_uint: size code at arg, value after it
    op_conversion,     // any other conversion, its items from arg on
    op_modifier,       // a modifier, its parameters from arg on
    op_flags,          // a flag item (named, or brol_fmt_flags) at arg
  } kind;
  brol_item code;
  std::size_t arg;
};

// The longest list that is planned; longer ones go through the item loop.
inline constexpr std::size_t k_plan_limit = 32;

template <std::size_t N>
struct list_plan {
  bool planned = false;
  std::size_t count = 0;
  plan_op ops[N == 0 ? 1 : N] = {};
};

// The item loop (brol_format.cpp) run at compile time over the list's shape: every decision it takes
// by an item's value (item_sequence, the lazy reset included) is taken here by the argument's type.
template <std::size_t N>
constexpr list_plan<N> make_plan(const arg_info (&args)[N], const list_reading<N>& reading) noexcept {
  list_plan<N> plan;
  if (reading.error != list_error::none || N > k_plan_limit) return plan;
  item_sequence sequence;
  const auto emit = [&plan](plan_op::kind_t kind, brol_item code, std::size_t arg) {
    plan.ops[plan.count++] = plan_op{kind, code, arg};
  };
  for (std::size_t at = 0; at < N;) {
    const bool literal = reading.roles[at] == arg_role::literal;
    const code_entry entry = literal ? code_entry{0, item_kind::literal, 0, {}, {}, {}} : entry_of(args[at].code);
    if (entry.kind == item_kind::end) break;
    const item_sequence::decision d = sequence.next(entry.kind);
    if (d.reset) emit(plan_op::op_reset, 0, 0);
    switch (entry.kind) {
      case item_kind::literal:
        emit(d.styled ? plan_op::op_literal : plan_op::op_plain_literal, 0, at);
        break;
      case item_kind::integer:
        emit(plan_op::op_integer, entry.code, at + 1);
        break;
      case item_kind::conversion:
        emit(plan_op::op_conversion, entry.code, at + 1);
        break;
      case item_kind::modifier:
        emit(plan_op::op_modifier, entry.code, at + 1);
        break;
      case item_kind::flags:
        emit(plan_op::op_flags, entry.code, at);
        break;
      default:
        break;  // brol_fmt_again: only its decision
    }
    at += 1 + entry.count;
  }
  plan.planned = true;
  return plan;
}

// The plan of the list whose arguments have the types Args.
template <class... Args>
struct planned_list {
  using list = checked_list<Args...>;
  static constexpr list_plan<sizeof...(Args)> plan = make_plan(list::infos, list::reading);
  // The single integer (brol_fmt_int or brol_fmt_uint, size code, value, brol_fmt_end or nothing):
  // the engine's own path for it.
  static constexpr bool one_integer =
      plan.planned && plan.count == 1 && plan.ops[0].kind == plan_op::op_integer && plan.ops[0].arg == 1;
};

// The item of argument I, a size code fitted to its value as the unplanned list has it.
template <std::size_t I, class... Args>
inline brol_item item_at(const std::tuple<Args...>& args) noexcept {
  return to_item<checked_list<Args...>::reading.roles[I]>(std::get<I>(args));
}

// What a planned list runs on: the engine's settings, destination and item text.
struct plan_run {
  brol_format_state st;
  format_output out;
  item_text item;
};

template <plan_op Op, class Tuple>
inline void run_op(plan_run* r, const Tuple& args) noexcept {
  if constexpr (Op.kind == plan_op::op_reset) {
    reset_settings(&r->st);
  } else if constexpr (Op.kind == plan_op::op_plain_literal || Op.kind == plan_op::op_literal) {
    const char* text = std::get<Op.arg>(args);
    if (text == nullptr) text = empty_text;
    if constexpr (Op.kind == plan_op::op_plain_literal) {
      plain_literal(&r->out, text);
    } else {
      const auto n = static_cast<std::int64_t>(std::strlen(text));
      if (!left_literal(&r->st, &r->out, text, n)) literal_measured(&r->st, &r->out, text, n, &r->item);
    }
  } else if constexpr (Op.kind == plan_op::op_flags) {
    r->st.flags = static_cast<std::uint16_t>(r->st.flags | ((item_at<Op.arg>(args) - k_first_flag) & k_flag_bits));
  } else {
    // The op's further items, read by the engine's own steps through a cursor over them.
    constexpr std::size_t further = entry_of(Op.code).count;
    brol_item items[further == 0 ? 1 : further];
    if constexpr (further >= 1) items[0] = item_at<Op.arg>(args);
    if constexpr (further >= 2) items[1] = item_at<Op.arg + 1>(args);
    brol_fmt_cursor cursor{items, items + further};
    if constexpr (Op.kind == plan_op::op_integer) {
      integer_item(&r->st, &r->out, &cursor, Op.code == brol_fmt_int, &r->item);
    } else if constexpr (Op.kind == plan_op::op_conversion) {
      conversion_item(&r->st, &r->out, Op.code, &cursor, &r->item);
    } else {
      apply_modifier(&r->st, Op.code, &cursor);
    }
  }
}

// Inlined into the caller, where the list's constants (its sizes, widths and codes) fold through the
// steps.
template <class... Args, std::size_t... K>
BROL_FORMAT_INLINE std::int64_t run_plan(char* destination, std::int64_t size, const std::tuple<Args...>& args,
                                         std::index_sequence<K...>) noexcept {
  constexpr const auto& plan = planned_list<Args...>::plan;
  const bool writes = destination != nullptr && size >= 1;
  plan_run r;
  r.out = format_output{destination, writes ? size - 1 : 0, 0};
  reset_settings(&r.st);
  r.st.int_length = r.st.frac_digits = r.st.text_length = 0;
  (run_op<plan.ops[K]>(&r, args), ...);
  if (writes) destination[r.out.total < r.out.limit ? r.out.total : r.out.limit] = '\0';
  return r.out.total;
}

// brol_format of a checked list: planned where its shape allows, else the item loop.
template <class First, class... Items>
BROL_FORMAT_INLINE std::int64_t format_planned(char* destination, std::int64_t size, First first,
                                               Items... items) noexcept {
  using planned = planned_list<First, Items...>;
  if constexpr (!planned::plan.planned) {
    const auto rest = rest_items(first, items...);
    return brol_vformat(destination, size, first_item(first, items...),
                        brol_fmt_cursor{rest.items, rest.items + sizeof...(Items) + 1});
  } else {
    const std::tuple<First, Items...> args{first, items...};
    if constexpr (planned::one_integer) {
      return format_one_integer(destination, size, planned::plan.ops[0].code == brol_fmt_int, item_at<1>(args),
                                item_at<2>(args));
    } else {
      return run_plan(destination, size, args, std::make_index_sequence<planned::plan.count>{});
    }
  }
}

}  // namespace brol::detail
