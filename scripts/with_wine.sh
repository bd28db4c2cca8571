#!/usr/bin/env bash
# Runs one command, one Wine test say, as the test command runs the Wine suite:
# in a throwaway prefix and home folder below /tmp, with a display (Xvfb when
# there is none) and Wine's desktop kept up; all of it goes when the command
# ends. --wine10 runs it under Wine 10 in its root instead (as root). Builds
# nothing: build first (cmake --build --preset win).
#   bash scripts/with_wine.sh ctest --preset win -R 'Load\.'
#   bash scripts/with_wine.sh --wine10 ctest --preset win -R 'Load\.'
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
qs_need_display "$0" "$@"

qs_wine_start >/dev/null
if [ "${1:-}" = --wine10 ]; then
  shift
  qs_have_wine10 || {
    echo "Wine 10 is missing (scripts/setup.sh makes it, as root)" >&2
    exit 1
  }
  qs_wine10_run "$@"
else
  qs_keep_desktop "$QS_WINE"
  "$@"
fi
