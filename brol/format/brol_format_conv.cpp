// Conversions of places 1-3 and 6-8 (strings, character, floating-point, fixed-point, quotient).
// Placeholder: until they are built they consume nothing and produce nothing.
#include "brol/format/brol_format_conv.h"

namespace {
void produce_nothing(brol_format_state* state) { state->text_length = 0; }
}  // namespace

void brol_conv_strn(brol_format_state* state, brol_fmt_cursor*, char*, std::int64_t) { produce_nothing(state); }
void brol_conv_mem(brol_format_state* state, brol_fmt_cursor*, char*, std::int64_t) { produce_nothing(state); }
void brol_conv_char(brol_format_state* state, brol_fmt_cursor*, char*, std::int64_t) { produce_nothing(state); }
void brol_conv_float(brol_format_state* state, brol_fmt_cursor*, char*, std::int64_t) { produce_nothing(state); }
void brol_conv_fixed(brol_format_state* state, brol_fmt_cursor*, char*, std::int64_t) { produce_nothing(state); }
void brol_conv_ratio(brol_format_state* state, brol_fmt_cursor*, char*, std::int64_t) { produce_nothing(state); }
