#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the native unit tests
# (plain, then under AddressSanitizer and UndefinedBehaviorSanitizer), the
# docs check, the release checks, and the tests that run the DLL under Wine,
# once under the system's Wine 8 and once under Wine 10 in its own root.
# Writes how long each step took to docs/generated/test-run.md, labelled with
# the code (its folders' git trees) and the machine, and the pace the evening tests saw under Wine's
# timer and Windows' to docs/generated/timer-figures.md.
set -euo pipefail
cd "$(dirname "$0")/.."
# Counted from the first start, when the script starts again under Xvfb.
export QS_TEST_STARTED=${QS_TEST_STARTED:-$(date +%s)}
started=$QS_TEST_STARTED
fresh=present
[ -d build ] || fresh=absent
bash scripts/setup.sh --packages
source scripts/lib.sh
qs_need_display "$0" "$@"
# Wine 10's root is wanted only for the last step: it is made meanwhile, in
# a process group of its own, at a lower priority than the build and the
# tests, and ended with the script whatever ends it.
wine10_log=$(mktemp /tmp/quellstone-setup-wine10.XXXXXX)
setsid nice -n 10 bash scripts/setup.sh --wine10 >"$wine10_log" 2>&1 &
wine10_setup=$!
stop_wine10_setup() {
  [ -z "$wine10_setup" ] || kill -- -"$wine10_setup" 2>/dev/null || true
  rm -f "$wine10_log"
}
trap stop_wine10_setup EXIT

steps=()
step_start=$started
step_done() { # words
  local now
  now=$(date +%s)
  steps+=("| $1 | $((now - step_start)) s |")
  step_start=$now
}
step_done "set-up of the packages (scripts/setup.sh), display"
qs_build win native sanitize
step_done "build (win, native, sanitize)"
status=0
ctest --preset native || status=1
ctest --preset sanitize || status=1
step_done "native unit tests, under the sanitizers too, and the docs check"
qs_wine_start # the win preset runs only in a throwaway prefix and home
trap 'qs_wine_stop; stop_wine10_setup' EXIT
qs_keep_desktop "$QS_WINE"
step_done "Wine 8's throwaway prefix"
ctest --preset win -R '^release_' || status=1
step_done "release check (a rebuild byte for byte)"
wine8=$("$QS_WINE" --version)
echo "== Wine tests under $wine8"
ctest --preset win -E '^release_' || status=1
step_done "Wine suite under $wine8 (the zips' check with it)"
# The pace a player sees, as the evenings printed it, for PLAYERS.md.
figures=()
timer_figures() { # wine
  local line
  while read -r line; do
    figures+=("$1 $line")
  done < <(sed -n 's/^.*timer-figures: //p' build/win/Testing/Temporary/LastTest.log)
}
timer_figures "$wine8"
"$QS_WINESERVER" -k >/dev/null 2>&1 || true # Wine 8's processes end here
# The same Wine suite under Wine 10, the Wine that Proton builds on. The
# release checks use no Wine and run once.
if ! wait "$wine10_setup"; then
  echo "making Wine 10's root failed:" >&2
  status=1
fi
wine10_setup=""
cat "$wine10_log"
step_done "waiting for Wine 10's root (made meanwhile)"
if qs_have_wine10; then
  qs_wine10_run ctest --preset win -E '^release_' || status=1
  step_done "Wine suite under Wine 10, its prefix made first"
  timer_figures "Wine 10"
elif [ "${CI:-}" = true ]; then
  echo "Wine 10 is missing (scripts/setup.sh makes it, as root): failing" >&2
  status=1
else
  echo "Wine 10 is missing (scripts/setup.sh makes it, as root): ran under Wine 8 only"
fi

label=$(qs_code_label)
mkdir -p docs/generated
{
  echo "_Written by scripts/test.sh on $label," \
    "$(date -u '+%Y-%m-%d'); the build folders were $fresh at the start; the tests $([ $status = 0 ] && echo passed || echo failed)._"
  echo
  echo "| Step | Time |"
  echo "|---|---|"
  printf '%s\n' "${steps[@]}"
  echo "| the whole test command | $(($(date +%s) - started)) s |"
} >docs/generated/test-run.md
# Kept as it was when no evening printed its figures (a test that failed first).
[ ${#figures[@]} -gt 0 ] || exit $status
{
  echo "_Written by scripts/test.sh on $label, from what the evening tests printed" \
    "(Evening.*, on the stand-in's clock, so the same on every machine); the tests" \
    "$([ $status = 0 ] && echo passed || echo failed)._"
  echo
  echo "An hour of play with the worker armed over a present entry, Sleep=5: how"
  echo "often the watcher looks and the worker writes its line, and how long after"
  echo "the arming call its first round and its first line come."
  echo
  echo "| Run under | Timer | Watcher's looks a second | Worker's lines a minute | A line every | Arming to the first round | Arming to the first line |"
  echo "|---|---|---|---|---|---|---|"
  for entry in "${figures[@]}"; do
    awk '{
      wine = $1; for (i = 2; i <= NF && $i !~ /=/; i++) wine = wine " " $i
      for (; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
      timer = f["timer"] == "windows" ? "Windows'"'"' default, a tick every " f["tick-us"] / 1000 " ms" : "Wine'"'"'s, to the millisecond"
      printf "| %s | %s | %s | %s | %s s | %s ms | %s s |\n", wine, timer, f["watcher-passes-per-s"],
        f["worker-lines-per-min"], f["worker-line-every-s"], f["arm-to-first-pass-ms"], f["arm-to-first-line-s"]
    }' <<<"$entry"
  done
} >docs/generated/timer-figures.md
exit $status
