#!/usr/bin/env bash
# Fuzzes the product record parser: builds it natively with clang's libFuzzer
# and the address, leak, undefined-behaviour and implicit-conversion
# sanitizers into build/fuzz/, then runs it for the given number of seconds
# (default 60). Exits non-zero on any finding; the input that caused it is
# kept in build/fuzz/artifacts/.
#
#   bash tools/fuzz-product-info.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
  ''|*[!0-9]*|0) echo "fuzz-product-info: seconds must be a positive whole number" >&2; exit 2 ;;
esac

cxx="${CXX_FUZZ:-clang++-14}"
out=build/fuzz
mkdir -p "$out/corpus" "$out/artifacts"

"$cxx" -std=c++17 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined,implicit-conversion -fno-sanitize-recover=all \
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion \
  -Wformat=2 -Wcast-qual -Wundef -Werror \
  -I tests/fuzz/host -I src/installer -I src/shared \
  tests/fuzz/product_info_fuzz.cpp src/installer/product_info.cpp \
  -o "$out/product_info_fuzz"

# New inputs go to build/fuzz/corpus; the seeds in tests/fuzz/corpus are only read.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
log="$out/fuzz.log"
status=0
"$out/product_info_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$out/artifacts/" \
  "$out/corpus" tests/fuzz/corpus >"$log" 2>&1 || status=$?
if [ "$status" != 0 ]; then
  tail -n 60 "$log"
  echo "fuzz-product-info: finding (exit $status); full log in $log, input in $out/artifacts/" >&2
  exit "$status"
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
echo "fuzz-product-info: no findings in ${seconds} s"
