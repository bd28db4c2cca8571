#!/usr/bin/env bash
# Prints the benchmark table, in markdown under a line that names the commit,
# the Wine and the cores it measured: every figure beside the least the same
# work can cost (its floor), measured in the same run, and their ratio; the
# game's frames alone and with the plugin under Wine 8 and Wine 10, each with
# its 95 % interval and a verdict, also into docs/generated/bench.md. Draws
# docs/generated/bench-frames.png and bench-evening.png. Takes 15 to 20 minutes
# on 2 cores. Nothing here
# passes or fails on time.
#   bench.sh --shares: only what each of the plugin's activities costs the
#   frames of a game busy on every core, under both Wines; draws nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/lib.sh
source tools/bench/stats.sh
qs_need_display "$0" "$@"

# The label, taken before anything is drawn into docs/.
label="$(qs_code_label), $("$QS_WINE" --version)"

qs_build >/dev/null
qs_wine_start >/dev/null

game="$QS_SCRATCH/Duskhaven"
mkdir -p "$game"
cp build/win/bin/Duskhaven.exe build/win/bin/MinimalPlugin.dll build/win/bin/QuellstoneNoMonitor.dll "$game/"
cp -r dist/Data "$game/"
run_game() { "$QS_WINE" "$game/Duskhaven.exe" "$@" | tr -d '\r'; }

# The frames under Wine 8, then under Wine 10 in its session when there is
# one, each one's rows printed as soon as they are in: $1 the cases
# (frames.sh). A Wine 10 session that ends early (another session of the same
# root ending ends every process in it) costs its rows, not the run.
frames_both() {
  bash tools/bench/frames.sh "$game" "$QS_SCRATCH" wine8 "$@"
  cat "$QS_SCRATCH/rows-wine8.md"
  if qs_have_wine10; then
    if qs_wine10_run bash tools/bench/frames.sh "$game" "$QS_SCRATCH" wine10 "$@" >&2; then
      cat "$QS_SCRATCH/rows-wine10.md"
    else
      echo "- Frames under Wine 10: not measured, its session ended early." >"$QS_SCRATCH/verdicts-wine10.md"
      : >"$QS_SCRATCH/pairs-wine10.txt"
    fi
  fi
}
if [ "${1:-}" = --shares ]; then
  echo "_Measured by scripts/bench.sh --shares on $label, $(date -u '+%Y-%m-%d')._"
  echo
  echo "| Figure | With | Without | Ratio (95 % interval) |"
  echo "|---|---|---|---|"
  frames_both no-scan no-worker no-monitor
  echo
  cat "$QS_SCRATCH"/verdicts-wine{8,10}.md 2>/dev/null || true
  exit 0
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
row() { awk -v w="$1" -v u="$2" -v a="$3" -v b="$4" \
  'BEGIN { printf "| %s | %.4g %s | %.4g %s | %.2f |\n", w, a, u, b, u, a / b }'; }

# What it prints goes also to docs/generated/bench.md, the one place the docs
# take the bench's figures from, written whole at the end: a run that fails
# leaves the last good one.
exec 3>&1 > >(tee "$QS_SCRATCH/bench.md")
tee_pid=$!
echo "_Measured by scripts/bench.sh on $label, $(date -u '+%Y-%m-%d')._"
echo
echo "| Figure | Quellstone | Floor | Ratio |"
echo "|---|---|---|---|"
build/native/bin/bench_native
"$QS_WINE" build/win/bin/bench_win.exe | tr -d '\r'

# Starts of the stand-in game, each a fresh process: the plugin, the bare work
# of a load in its place, and a plugin with the same exports and no code.
for i in $(seq 11); do
  run_game --window >>"$QS_SCRATCH/plugin.txt"
  run_game --window --bare >>"$QS_SCRATCH/bare.txt"
  run_game --plugin 'MinimalPlugin.dll' >>"$QS_SCRATCH/minimal.txt"
done
values() { sed -n "s/^$1: //p" "$QS_SCRATCH/$2.txt" | median; }
row "LoadLibrary of the DLL vs of a DLL with the same exports and no code, median of 11 (Wine)" \
  us "$(values loadlibrary-us plugin)" "$(values loadlibrary-us minimal)"
row "DLL size vs the DLL with the same exports and no code" KiB \
  "$(($(stat -c %s dist/Data/VELQ/Plugins/Quellstone.dll) / 1024))" \
  "$(($(stat -c %s build/win/bin/MinimalPlugin.dll) / 1024))"
row "VELQPlugin_Load vs its work done bare (log reset, restyle and move, 3 threads, 2 lines), median of 11 (Wine)" \
  us "$(values load-us plugin)" "$(values load-us bare)"

# The three threads while the game idles (unarmed, a short list), against
# three bare threads with the same sleeps and a plain-load scan of the list,
# side by side: both games at once, so that what the machine does meanwhile
# falls on both. Their threads' run time as Linux counts it (in nanoseconds;
# Wine's own thread times tick in 10 ms), all threads but the main one, over
# 8 s from 4 s after the start. The row: the medians, and the geometric mean
# of the pairs' ratios with its 95 % interval.
idle_pairs=${QS_IDLE_PAIRS:-7}
idle_pair() {
  local args=(--entries 0,1 --run-ms 14000) plugin bare games=()
  run_game "${args[@]}" >/dev/null &
  games+=($!)
  run_game "${args[@]}" --bare >/dev/null &
  games+=($!)
  sleep 4
  plugin=$(pgrep -f "Duskhaven.exe ${args[*]}\$" | head -n 1)
  bare=$(pgrep -f "Duskhaven.exe ${args[*]} --bare" | head -n 1)
  threads_ns() {
    for task in /proc/"$1"/task/*; do
      [ "${task##*/}" = "$1" ] || cut -d' ' -f1 "$task/schedstat"
    done | awk '{ s += $1 } END { print s }'
  }
  local plugin_start bare_start
  plugin_start=$(threads_ns "$plugin") bare_start=$(threads_ns "$bare")
  sleep 8
  echo "$(($(threads_ns "$plugin") - plugin_start)) $(($(threads_ns "$bare") - bare_start))"
  wait "${games[@]}" # not a bare wait: the table's tee is a child of this shell too
}
for i in $(seq "$idle_pairs"); do idle_pair; done >"$QS_SCRATCH/idle.txt"
read -r idle_point idle_low idle_high < <(awk '{ print $1 / $2 }' "$QS_SCRATCH/idle.txt" | ratio_interval)
awk -v n="$idle_pairs" -v p="$idle_point" -v lo="$idle_low" -v hi="$idle_high" \
  -v a="$(cut -d' ' -f1 "$QS_SCRATCH/idle.txt" | median)" -v b="$(cut -d' ' -f2 "$QS_SCRATCH/idle.txt" | median)" \
  'BEGIN { printf "| Plugin threads idle (unarmed), %% of one core, %d pairs side by side x 8 s vs three bare threads (Wine) | %.4g %% | %.4g %% | %.3f (%.3f to %.3f) |\n", n, a / 8e9 * 100, b / 8e9 * 100, p, lo, hi }'

# The plugin's weight in the game: what the loaded plugin, armed over the
# long list, adds to the process against the DLL with no code, 3 s after the
# load: committed private memory (a walk of the address space), handles and
# threads. Three of each, in turn, and the median of each.
weight() {
  run_game --list-size 1000000 --present-last --arm-after-ms 0 --run-ms 3000 \
    --report-every-ms 2900 --frame-work-units 1 "$@" | awk '
    /^process: / { for (i = 2; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] } }
    /^frames: / { for (i = 2; i <= NF; i++) { split($i, kv, "="); g[kv[1]] = kv[2] } }
    END { print g["private-kb"], f["handles"], f["threads"] }'
}
for i in 1 2 3; do
  weight >>"$QS_SCRATCH/weight-plugin.txt"
  weight --plugin MinimalPlugin.dll >>"$QS_SCRATCH/weight-minimal.txt"
done
weight_of() { cut -d' ' -f"$2" "$QS_SCRATCH/weight-$1.txt" | median; }
weight_row() { # words, unit, column
  echo "| Game process with the DLL vs with the DLL with the same exports and no code, $1, median of 3 (Wine) |" \
    "$(weight_of plugin "$3") $2 | $(weight_of minimal "$3") $2 |" \
    "+$(($(weight_of plugin "$3") - $(weight_of minimal "$3"))) $2 |"
}
weight_row "committed private memory" KiB 1
weight_row "handles" "" 2
weight_row "threads" "" 3

# The frames: the rows, then the verdicts under the table.
frames_both main busy floor none
echo
cat "$QS_SCRATCH"/verdicts-wine{8,10}.md 2>/dev/null || true
source tools/bench/evening.sh
cat "$QS_SCRATCH"/pairs-wine{8,10}.txt 2>/dev/null | awk '
  BEGIN { w["main"] = "main thread, vs alone"; w["busy"] = "busy, vs alone"; w["floor"] = "busy, vs bare work"; w["none"] = "no entry, vs bare work" }
  { k = $1; if (!(k in x)) x[k] = ++n; split(k, c, "-"); $1 = "\"Wine " substr(c[1], 5) ": " w[c[2]] "\""; print x[k], $0 }' \
  >"$QS_SCRATCH/pairs.txt"
cases=$(awk '!seen[$1]++ { $0 = $0; label = substr($0, index($0, "\""));
  label = substr(label, 1, index(substr(label, 2), "\"") + 1); printf "%s%s %s", n++ ? ", " : "(", label, $1 + 0.25 }
  END { print ")" }' "$QS_SCRATCH/pairs.txt")
gnuplot -e "data='$QS_SCRATCH'; out='docs/generated/bench-frames.png'; label='$label'; cases='$cases'" \
  -e "late=$(awk 'BEGIN { print 1000 / 120 }')" tools/bench/frames.gp

exec >&3 3>&-
# A Wine process started meanwhile may hold the pipe open, so tee is given
# a moment to write what it has, not waited for.
for _ in $(seq 50); do
  kill -0 "$tee_pid" 2>/dev/null || break
  sleep 0.1
done
mkdir -p docs/generated
cp "$QS_SCRATCH/bench.md" docs/generated/bench.md
