#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the native unit tests
# (plain, then under AddressSanitizer and UndefinedBehaviorSanitizer), the
# docs check, the release checks, and the tests that run the DLL under Wine,
# once under the system's Wine 8 and once under Wine 10 in its own root.
# Writes how long each step took to docs/generated/test-run.md, labelled with
# the commit and the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
fresh=present
[ -d build ] || fresh=absent
bash scripts/setup.sh
source scripts/lib.sh
qs_need_display "$0" "$@"

steps=()
step_start=$(date +%s)
step_done() { # words
  local now
  now=$(date +%s)
  steps+=("| $1 | $((now - step_start)) s |")
  step_start=$now
}
step_done "set-up (scripts/setup.sh), display"
qs_build win native sanitize
step_done "build (win, native, sanitize)"
qs_wine_start
qs_keep_desktop "$QS_WINE"
status=0
ctest --preset native || status=1
step_done "native unit tests and the docs check"
ctest --preset sanitize || status=1
step_done "unit tests under the sanitizers"
wine8=$("$QS_WINE" --version)
echo "== Wine tests under $wine8"
ctest --preset win || status=1
step_done "Wine suite and release checks under $wine8"
"$QS_WINESERVER" -k >/dev/null 2>&1 || true # Wine 8's processes end here
# The same Wine suite under Wine 10, the Wine that Proton builds on. The
# release checks use no Wine and run once.
if qs_have_wine10; then
  qs_wine10_run ctest --preset win -E '^release_' || status=1
  step_done "Wine suite under Wine 10"
elif [ "${CI:-}" = true ]; then
  echo "Wine 10 is missing (scripts/setup.sh makes it, as root): failing" >&2
  status=1
else
  echo "Wine 10 is missing (scripts/setup.sh makes it, as root): ran under Wine 8 only"
fi

label="commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown) (src/ tree $(git rev-parse --short HEAD:src 2>/dev/null || echo unknown))"
[ -z "$(git status --porcelain --untracked-files=no -- . ':!docs/generated' 2>/dev/null)" ] ||
  label="$label+dirty"
mkdir -p docs/generated
{
  echo "_Written by scripts/test.sh on $label, $(nproc) cores of" \
    "$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(free -g | awk '/^Mem:/ { print $2 }') GiB," \
    "$(date -u '+%Y-%m-%d'); the build folders were $fresh at the start; the tests $([ $status = 0 ] && echo passed || echo failed)._"
  echo
  echo "| Step | Time |"
  echo "|---|---|"
  printf '%s\n' "${steps[@]}"
  echo "| the whole test command | $(($(date +%s) - started)) s |"
} >docs/generated/test-run.md
exit $status
