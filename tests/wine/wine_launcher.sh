#!/usr/bin/env bash
# How ctest starts a Windows test program: under the system's Wine, or, when
# QS_WINE_ROOT names a root with a Wine of its own, under that one (the
# checkout and /tmp are bound into the root at the same paths, so every path
# means the same inside).
#
# The program's output goes through a file, not straight to ctest's pipe: the
# Wine desktop process that a program's first window starts inherits its
# handles and lives on for many seconds after the program has gone, and ctest
# would wait for that copy of its pipe to close.
#
# Only in a throwaway prefix and home folder of scripts/lib.sh: the programs
# it starts write into Documents and the registry.
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
qs_need_throwaway
output=$(mktemp /tmp/quellstone-test-output.XXXXXX)
if [ -n "${QS_WINE_ROOT:-}" ]; then
  chroot "$QS_WINE_ROOT" /bin/sh -c 'cd "$0" && exec /usr/lib/wine/wine64 "$@"' "$PWD" "$@" \
    >"$output" 2>&1
else
  /usr/lib/wine/wine64 "$@" >"$output" 2>&1
fi
status=$?
cat "$output"
rm -f "$output"
exit $status
