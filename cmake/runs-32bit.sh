#!/bin/sh
# Tells whether this machine can run 32-bit programs, by running one.
#   runs-32bit.sh [LOADER]
# LOADER is a program to try (default: Wine's 32-bit loader). Exit 0 when it
# runs, or when it is not a 32-bit program at all. Exit 1, with the reason on
# standard output, when the kernel refuses it as a format it cannot execute:
# some machines have no 32-bit support at all. Any other failure (a loader
# that is missing or broken) is not this machine's limit and says yes, so that
# the tests that use it fail loudly instead of being skipped.
loader=${1:-/usr/lib/wine/wine}
[ -f "$loader" ] || exit 0
# ELF class byte: 1 for a 32-bit program.
class=$(od -An -tu1 -j4 -N1 "$loader" 2>/dev/null | tr -d ' ')
[ "$class" = 1 ] || exit 0
if output=$("$loader" --version 2>&1 </dev/null); then
  exit 0
fi
case "$output" in
  *"Exec format error"*)
    echo "this machine cannot run 32-bit programs ($loader: Exec format error)"
    exit 1
    ;;
esac
exit 0
