#!/usr/bin/env bash
# Fuzzes the registry script interpreter and its substitution: builds it
# natively with clang's libFuzzer and the address, leak, undefined-behaviour
# and implicit-conversion sanitizers into build/fuzz-registry/, against the
# in-memory registry of tests/fuzz/registry_host/, then runs it for the given
# number of seconds (default 60). Exits non-zero on any finding; the input that
# caused it is kept in build/fuzz-registry/artifacts/.
#
#   bash tools/fuzz-registry-script.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
case "$seconds" in
  ''|*[!0-9]*|0) echo "fuzz-registry-script: seconds must be a positive whole number" >&2; exit 2 ;;
esac

cxx="${CXX_FUZZ:-clang++-14}"
out=build/fuzz-registry
mkdir -p "$out/corpus" "$out/artifacts"

"$cxx" -std=c++17 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined,implicit-conversion -fno-sanitize-recover=all \
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion \
  -Wformat=2 -Wcast-qual -Wundef -Werror \
  -I tests/fuzz/registry_host -I src/comserver \
  tests/fuzz/registry_script_fuzz.cpp src/comserver/registry_script.cpp \
  -o "$out/registry_script_fuzz"

# New inputs go to build/fuzz-registry/corpus; the seeds in
# tests/fuzz/registry_corpus are only read. Inputs may exceed the token
# buffer's 4096 bytes.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
log="$out/fuzz.log"
status=0
"$out/registry_script_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=12288 \
  -dict=tests/fuzz/registry_script.dict -print_final_stats=1 -artifact_prefix="$out/artifacts/" \
  "$out/corpus" tests/fuzz/registry_corpus >"$log" 2>&1 || status=$?
if [ "$status" != 0 ]; then
  tail -n 60 "$log"
  echo "fuzz-registry-script: finding (exit $status); full log in $log, input in $out/artifacts/" >&2
  exit "$status"
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
echo "fuzz-registry-script: no findings in ${seconds} s"
