# Sourced by scripts/bench.sh: an evening of the game with the plugin, armed
# over a present entry, with free RAM answered as 4096 MiB so that trims are
# due, its clock and sleeps run 100 times as fast: two game hours in 72 s. The
# stand-in reports the process's committed memory, handles and threads every
# 500 ms (50 game seconds); the log says when the monitor passed and trimmed.
# Prints one line of figures and draws docs/generated/bench-evening.png.

evening_speed=100
evening_report_ms=500
evening_hours=2
run_game --game-speed "$evening_speed" --report-every-ms "$evening_report_ms" \
  --free-bytes 4294967296 --arm-after-ms 0 --entries 0,0,7 \
  --run-ms $((evening_hours * 3600 * 1000 / evening_speed + evening_report_ms)) \
  >"$QS_SCRATCH/evening.txt"
if ! grep -qx 'load: 1' "$QS_SCRATCH/evening.txt" || ! grep -q '^threads-after: ' "$QS_SCRATCH/evening.txt"; then
  echo "bench: the evening run did not load or did not finish:" >&2
  cat "$QS_SCRATCH/evening.txt" >&2
  exit 1
fi

# The process, in game hours on the plugin's clock from the first report on
# (the report interval times the speed where the stand-in does not give that
# clock): committed private memory (MiB, from the stand-in's walk of the
# address space, as Windows counts it; Wine's page-file figure counts only the
# pages in use), handles, threads.
sed -n 's/^process: //p' "$QS_SCRATCH/evening.txt" |
  awk -v step="$(awk -v r="$evening_report_ms" -v s="$evening_speed" 'BEGIN { print r * s / 3.6e6 }')" '
    { for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
      if (NR == 1) first = f["game-ms"]
      hours = "game-ms" in f ? (f["game-ms"] - first) / 3.6e6 : (NR - 1) * step
      printf "%.4f %.3f %s %s\n", hours, f["private-kb"] / 1024, \
        "handles" in f ? f["handles"] : "NaN", "threads" in f ? f["threads"] : "NaN" }' \
  >"$QS_SCRATCH/evening-process.txt"
# The monitor's passes, every 5 game seconds, counted in the log; a trim
# belongs to the pass whose line comes before it.
log=$(find "$HOME" -name Quellstone.log | head -n 1)
tr -d '\r' <"$log" | awk '
  /\[MM\] Process WS:/ { pass++; print pass * 5 / 3600 > "/dev/stdout" }
  /\[MM\] Trimmed working set/ { print pass * 5 / 3600 > "/dev/stderr" }' \
  >"$QS_SCRATCH/evening-passes.txt" 2>"$QS_SCRATCH/evening-trims.txt"

# Figures at 15 game minutes and at the end.
evening_at() { awk -v h="$1" '$1 <= h + 1e-9 { line = $0 } END { print line }' "$QS_SCRATCH/evening-process.txt"; }
read -r _ m15 h15 t15 < <(evening_at 0.25)
read -r _ mend hend tend < <(evening_at "$evening_hours")
echo "- Evening, $evening_hours game hours at $evening_speed times speed: $(wc -l <"$QS_SCRATCH/evening-passes.txt")" \
  "monitor passes, $(wc -l <"$QS_SCRATCH/evening-trims.txt") trims; from 15 game minutes to the end," \
  "committed memory $m15 -> $mend MiB, handles $h15 -> $hend, threads $t15 -> $tend."
gnuplot -e "data='$QS_SCRATCH'; out='docs/generated/bench-evening.png'; label='$label'; hours=$evening_hours" \
  tools/bench/evening.gp
