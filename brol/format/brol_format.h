// The item-list formatting engine: literal texts, conversions, modifiers and flags in output order,
// written into a fixed-size buffer, cut and terminated there; the result is the uncut length.
#pragma once

#include <cstdint>

// The codes, the settings record, the cursor and brol_vformat.
#include "brol/format/brol_format_core.h"
#include "brol/format/brol_format_plan.h"

// brol_format(destination, size, items...): the engine over the items given as arguments, closed by
// brol_fmt_end or by nothing. The list is checked at compile time: a value where an item must begin,
// a conversion or modifier without its values and a value of the wrong kind (a double for an
// integer, a number for a text address, a text for a number) do not compile. A null literal text
// counts as the empty text. A size code chosen at run time that does not fit the type of its value is
// fitted to it (a double stays a double, an integer is read whole, a pair by its element size). The
// list's shape is planned at compile time (brol_format_plan.h); the text is the engine's, byte for
// byte.
template <class First, class... Items>
BROL_FORMAT_INLINE std::int64_t brol_format(char* destination, std::int64_t size, First first,
                                            Items... items) noexcept {
  return brol::detail::format_planned(destination, size, first, items...);
}
