#!/usr/bin/env bash
# Instructions per call of format_bench's cases under callgrind, independent of the machine's load:
# each case runs over the 4096 values once and eleven times, and the difference of the two totals is
# divided by the 40960 calls between them.
#   bench/count_instructions.sh BINARY [CASE...]     (default: every case)
set -euo pipefail
bin=$1; shift
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(int32_brol int32_brol_inline int64_brol_inline int32_snprintf int32_fmt int32_fmt_compiled int32_to_chars
  int64_brol int64_snprintf int64_fmt int64_fmt_compiled int64_to_chars
  width_brol width_snprintf width_fmt width_fmt_compiled
  double4_brol double4_snprintf double4_fmt double4_fmt_compiled double4_to_chars
  hex_brol hex_snprintf hex_fmt hex_fmt_compiled log_brol log_snprintf log_fmt row_brol row_snprintf)
total() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" --count "$1" "$2" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
for c in "${cases[@]}"; do
  one=$(total "$c" 1)
  eleven=$(total "$c" 11)
  printf '%-22s %s\n' "$c" "$(( (eleven - one) / 40960 ))"
done
