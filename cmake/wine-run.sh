#!/bin/sh
# Runs one Windows program under Wine in the build tree's own prefix.
# usage: wine-run.sh PREFIX LOADER PROGRAM [ARGS...]
# Exit status 77 (a skipped test) when LOADER is a 32-bit program that this
# machine cannot run.
# The prefix is made and its server started by wine-prefix.sh, once per test run.
#
# The program's output goes through a file: Wine's own background processes may
# inherit it and outlive the program, and must not keep the test's pipe open.
prefix=$1
loader=$2
shift 2
# A machine that cannot run 32-bit programs reports their tests as not run.
if ! reason=$(sh "$(dirname "$0")/runs-32bit.sh" "$loader"); then
  echo "Skipped: $reason"
  exit 77
fi
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
output=$(mktemp "${TMPDIR:-/tmp}/orvex-run.XXXXXX")
"$loader" "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit $status
