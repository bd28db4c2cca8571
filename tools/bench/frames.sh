# Sourced by scripts/bench.sh: the game's frames alone and with the plugin.
# The stand-in game renders 120 frames a second, each the same work (about
# 3 ms, calibrated once here and given to every run), and times each frame's
# work. "Alone" loads the plugin with the same exports and no code; "with the
# plugin" loads Quellstone.dll. Both are armed at once over a list of 1,000,000
# entries with only the last present, so that the watcher sweeps the whole list
# every pass and the CPU worker does its work, with the default settings.
# Three runs of each, alternating, in two cases: the game's main thread alone,
# and the game busy on every other core as well. Adds rows to the table,
# prints a verdict per case when the machine was quiet, and draws
# docs/bench-frames.png.

frame_period_ms=$(awk 'BEGIN { print 1000 / 120 }')
frame_runs=3
frame_run_ms=11000 # the first second is not counted (the stand-in's warm-up)
busy_threads=$(($(nproc) - 1))
frame_units=$(run_game --calibrate-frame-us 3000 | sed -n 's/^frame-work-units: //p')

# CPU time in clock ticks: the whole machine's, and this run's own (this
# shell's finished children, and the processes of this Wine prefix).
machine_ticks() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
own_ticks() {
  local pid sum
  sum=$(awk '{ print $16 + $17 }' /proc/$$/stat)
  for pid in $(grep -lsxzF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ | cut -d/ -f3); do
    sum=$((sum + $(awk '{ print $14 + $15 }' /proc/"$pid"/stat 2>/dev/null || echo 0)))
  done
  echo "$sum"
}

# One run: the frames' work times in microseconds, one a line, into $1;
# $2 is the case, $3 "alone" or "plugin", the rest are options. Adds the other
# processes' CPU time during the run to $QS_SCRATCH/others-<case>.txt.
frame_run() {
  local out=$1 setting=$2 machine0 own0 start end
  [ "$3" = plugin ] || set -- "$@" --plugin MinimalPlugin.dll
  shift 3
  machine0=$(machine_ticks) own0=$(own_ticks) start=$(date +%s.%N)
  run_game --list-size 1000000 --present-last --arm-after-ms 0 \
    --run-ms "$frame_run_ms" --frame-work-units "$frame_units" "$@" >"$out.log"
  end=$(date +%s.%N)
  echo "$(($(machine_ticks) - machine0 - $(own_ticks) + own0)) $start $end" \
    >>"$QS_SCRATCH/others-$setting.txt"
  if ! grep -qx 'load: 1' "$out.log" || ! grep -q '^frames: ' "$out.log"; then
    echo "bench: a frames run did not load or did not finish:" >&2
    cat "$out.log" >&2
    exit 1
  fi
  sed -n 's/^frame-work-us: //p' "$out.log" | tr ' ' '\n' | sed '/^$/d' >"$out"
  if [ "$(wc -l <"$out")" -ne "$(sed -n 's/^frames: counted=\([0-9]*\).*/\1/p' "$out.log")" ]; then
    echo "bench: a frames run reported fewer work times than it counted" >&2
    exit 1
  fi
}

# Median, p99, p99.9 (nearest rank) and late frames of the work times in the
# files given, in ms, and the number of frames.
frame_stats() {
  cat "$@" | sort -n | awk -v late_ms="$(awk -v p="$frame_period_ms" 'BEGIN { print 1.5 * p }')" '
    { v[NR] = $1 / 1000; late += $1 / 1000 > late_ms }
    function at(p) { i = int(p * NR); if (i < p * NR) i++; return v[i < 1 ? 1 : i] }
    END { printf "%.4f %.4f %.4f %d %d\n", at(0.5), at(0.99), at(0.999), late, NR }'
}

frame_row() { # what, alone figure, plugin figure
  awk -v w="$1" -v a="$3" -v b="$2" 'BEGIN { printf "| %s | %.3f ms | %.3f ms | %.3f |\n", w, a, b, a / b }'
}

frame_case() { # case name, its words in the table, options
  local setting=$1 words=$2 i verdict others spread
  local a50 a99 a999 alate count p50 p99 p999 plate pcount
  shift 2
  for i in $(seq "$frame_runs"); do
    for kind in alone plugin; do
      frame_run "$QS_SCRATCH/frames-$setting-$kind-$i.txt" "$setting" "$kind" "$@"
    done
  done
  read -r a50 a99 a999 alate count < <(frame_stats "$QS_SCRATCH"/frames-"$setting"-alone-*.txt)
  read -r p50 p99 p999 plate pcount < <(frame_stats "$QS_SCRATCH"/frames-"$setting"-plugin-*.txt)
  local what="Frame work, $words, $frame_runs x $((frame_run_ms / 1000 - 1)) s, vs the game alone (Wine)"
  frame_row "$what: median" "$a50" "$p50"
  frame_row "$what: p99" "$a99" "$p99"
  frame_row "$what: p99.9" "$a999" "$p999"
  echo "| $what: late frames (work over 1.5 frame periods) | $plate of $pcount | $alate of $count | |"

  # Quiet: the other processes took under a tenth of a core on average, and
  # the game-alone runs agree on their p99 within 5 %. Otherwise a 5 % verdict
  # would measure the machine, not the plugin.
  # (A few ticks below zero are the two clocks' rounding: nothing else ran.)
  others=$(awk '{ t += $1; s += $3 - $2 } END { o = t / s; printf "%.0f", o < 0 ? 0 : o }' \
    "$QS_SCRATCH/others-$setting.txt")
  spread=$(for i in $(seq "$frame_runs"); do frame_stats "$QS_SCRATCH/frames-$setting-alone-$i.txt"; done |
    awk 'NR == 1 || $2 < lo { lo = $2 } NR == 1 || $2 > hi { hi = $2 } END { printf "%.0f", (hi / lo - 1) * 100 }')
  if [ "$others" -gt 10 ] || [ "$spread" -gt 5 ]; then
    verdict="no verdict: the machine was not quiet (other processes took $others % of a core"
    verdict="$verdict during the runs; the game-alone runs' p99 differed by $spread %)"
    frame_picture_note=", machine not quiet: no verdict"
  elif awk -v a="$a99" -v p="$p99" 'BEGIN { exit !(p <= a * 1.05) }' && [ "$plate" -le "$alate" ]; then
    verdict="no frame lost: p99 within 5 % of the game alone and no extra late frame"
  else
    verdict="frames lost: p99 more than 5 % above the game alone's, or more late frames"
  fi
  frame_verdicts+=("- Frames, $words: $verdict.")
}

frame_verdicts=() frame_picture_note=""
frame_case main "main thread alone"
frame_case busy "game busy on every core" --busy-threads "$busy_threads"
echo
printf '%s\n' "${frame_verdicts[@]}"

# The picture: for each case, the share of frames whose work took longer than
# a given time, alone and with the plugin.
for setting in main busy; do
  for kind in alone plugin; do
    cat "$QS_SCRATCH"/frames-"$setting"-"$kind"-*.txt | sort -n |
      awk '{ v[NR] = $1 } END { for (i = 1; i <= NR; i++) print v[i] / 1000, (NR - i + 1) / NR }' \
        >"$QS_SCRATCH/curve-$setting-$kind.txt"
  done
done
gnuplot -e "data='$QS_SCRATCH'; out='docs/bench-frames.png'; label='$label$frame_picture_note'" \
  -e "late=$(awk -v p="$frame_period_ms" 'BEGIN { print 1.5 * p }')" tools/bench/frames.gp
