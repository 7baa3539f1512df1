#!/bin/sh
# Runs one Windows program under Wine in the build tree's own prefix.
# usage: wine-run.sh [--enter PIDFILE] PREFIX LOADER PROGRAM [ARGS...]
# Exit status 77 (a skipped test) when LOADER is a 32-bit program that this
# machine cannot run.
# The prefix is made and its server started by wine-prefix.sh, once per test run.
# --enter runs the program in the network and mount namespaces of the process
# whose id PIDFILE holds: the information server of a prefix that trusts the
# test root there.
#
# The program's output goes through a file: Wine's own background processes may
# inherit it and outlive the program, and must not keep the test's pipe open.
enter=""
if [ "$1" = "--enter" ]; then
  enter=$(cat "$2") || exit 1
  shift 2
fi
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
if [ -n "$enter" ]; then
  nsenter -t "$enter" -n -m "$loader" "$@" </dev/null >"$output" 2>&1
else
  "$loader" "$@" </dev/null >"$output" 2>&1
fi
status=$?
cat "$output"
rm -f "$output"
# Said, so that a test whose pass is read from its output still fails on it.
[ "$status" = 0 ] || echo "wine-run: the program ended with status $status"
exit $status
