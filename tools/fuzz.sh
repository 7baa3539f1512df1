#!/usr/bin/env bash
# Fuzzes one of the project's parsers: builds its fuzz target natively with
# clang's libFuzzer and the address, leak, undefined-behaviour and
# implicit-conversion sanitizers into build/fuzz-TARGET/, then runs it for the
# given number of seconds (default 60). Exits non-zero on any finding; the input
# that caused it is kept in build/fuzz-TARGET/artifacts/.
#   bash tools/fuzz.sh product-info [seconds]     the product record parser
#   bash tools/fuzz.sh registry-script [seconds]  the registry script interpreter,
#                                                 against an in-memory registry
#   bash tools/fuzz.sh stream-loader [seconds]    the control's stream loader and
#                                                 its property-value reader, over
#                                                 a memory stream
set -euo pipefail
cd "$(dirname "$0")/.."

target="${1:-}"
seconds="${2:-60}"
case "$target" in
  product-info)
    includes=(-I src/installer -I src/shared)
    sources=(tests/fuzz/product_info_fuzz.cpp src/installer/product_info.cpp)
    seeds=tests/fuzz/corpus
    extra=()
    ;;
  registry-script)
    includes=(-I src/comserver -I src/shared)
    sources=(tests/fuzz/registry_script_fuzz.cpp src/comserver/registry_script.cpp src/comserver/module_script.cpp)
    seeds=tests/fuzz/registry_corpus
    # Inputs may exceed the interpreter's 4096-byte token buffer.
    extra=(-max_len=12288 -dict=tests/fuzz/registry_script.dict)
    ;;
  stream-loader)
    includes=(-I src/control -I src/comserver)
    sources=(tests/fuzz/stream_loader_fuzz.cpp src/control/property_value_reader.cpp
             src/control/control_persistence.cpp)
    seeds=tests/fuzz/stream_corpus
    # Inputs may span more than two of the reader's 64 KiB slices.
    extra=(-max_len=140000)
    ;;
  *) echo "usage: $0 product-info|registry-script|stream-loader [seconds]" >&2; exit 2 ;;
esac
case "$seconds" in
  ''|*[!0-9]*|0) echo "fuzz $target: seconds must be a positive whole number" >&2; exit 2 ;;
esac

# The platform's declarations come from the Windows headers of libwine-dev;
# each fuzz entry defines the few calls its code makes. Strings are of 16-bit
# characters, as on the platform, so no C library wide-character call may be
# used in a fuzz build.
platform=(-isystem /usr/include/wine/wine/windows -fshort-wchar -DWINE_UNICODE_NATIVE -D_FORCENAMELESSUNION -DNOMINMAX
          -DWIN32_LEAN_AND_MEAN)
cxx="${CXX_FUZZ:-clang++-14}"
out="build/fuzz-$target"
mkdir -p "$out/corpus" "$out/artifacts"
"$cxx" -std=c++17 -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined,implicit-conversion -fno-sanitize-recover=all \
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion \
  -Wformat=2 -Wcast-qual -Wundef -Werror "${platform[@]}" \
  "${includes[@]}" "${sources[@]}" -o "$out/fuzz"

# New inputs go to build/fuzz-TARGET/corpus; the seeds we keep are only read.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
log="$out/fuzz.log"
status=0
"$out/fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "${extra[@]}" \
  -print_final_stats=1 -artifact_prefix="$out/artifacts/" \
  "$out/corpus" "$seeds" >"$log" 2>&1 || status=$?
if [ "$status" != 0 ]; then
  tail -n 60 "$log"
  echo "fuzz $target: finding (exit $status); full log in $log, input in $out/artifacts/" >&2
  exit "$status"
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
echo "fuzz $target: no findings in ${seconds} s"
