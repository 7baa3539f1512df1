#!/bin/sh
# Runs one Windows program under Wine in the build tree's own prefix.
# usage: wine-run.sh PREFIX LOADER PROGRAM [ARGS...]
# The prefix is made and its server started by wine-prefix.sh, once per test run.
#
# The program's output goes through a file: Wine's own background processes may
# inherit it and outlive the program, and must not keep the test's pipe open.
prefix=$1
loader=$2
shift 2
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
output=$(mktemp "${TMPDIR:-/tmp}/orvex-run.XXXXXX")
"$loader" "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit $status
