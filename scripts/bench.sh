#!/usr/bin/env bash
# Prints the benchmark table: every figure beside a baseline measured in the
# same run, and their ratio. Takes about two minutes. Nothing here passes or
# fails on time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/lib.sh
qs_need_display "$0" "$@"

qs_build >/dev/null
qs_wine_start >/dev/null

game="$QS_SCRATCH/Duskhaven"
mkdir -p "$game"
cp build/win/bin/Duskhaven.exe "$game/"
cp -r dist/Data "$game/"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
row() { awk -v w="$1" -v u="$2" -v a="$3" -v b="$4" \
  'BEGIN { printf "| %s | %.4g %s | %.4g %s | %.2f |\n", w, a, u, b, u, a / b }'; }

echo "| Figure | Quellstone | Baseline | Ratio |"
echo "|---|---|---|---|"
build/native/bin/bench_native
"$QS_WINE" build/win/bin/bench_win.exe 30

# The load entry against the bare LoadLibrary of the same DLL, with a window
# to make borderless; medians of 11 starts of the stand-in game.
for i in $(seq 11); do "$QS_WINE" "$game/Duskhaven.exe" --window; done > "$QS_SCRATCH/loads.txt"
load=$(sed -n 's/^load-us: //p' "$QS_SCRATCH/loads.txt" | median)
bare=$(sed -n 's/^loadlibrary-us: //p' "$QS_SCRATCH/loads.txt" | median)
row "VELQPlugin_Load vs LoadLibrary of the DLL, median of 11 (Wine)" us "$load" "$bare"

# The plugin's three threads while the game idles, unarmed, against the
# stand-in game's own main loop (which waits 5 ms between rounds).
"$QS_WINE" "$game/Duskhaven.exe" --entries 0,1 --run-ms 20100 --report-every-ms 10000 \
  > "$QS_SCRATCH/idle.txt"
read -r main0 other0 < <(sed -n 's/^process: .*main-cpu-ms=\([0-9.]*\) other-cpu-ms=\([0-9.]*\)/\1 \2/p' \
  "$QS_SCRATCH/idle.txt" | sed -n 2p)
read -r main1 other1 < <(sed -n 's/^process: .*main-cpu-ms=\([0-9.]*\) other-cpu-ms=\([0-9.]*\)/\1 \2/p' \
  "$QS_SCRATCH/idle.txt" | sed -n 3p)
plugin=$(awk -v a="$other0" -v b="$other1" 'BEGIN { print (b - a) / 10000 * 100 }')
gameloop=$(awk -v a="$main0" -v b="$main1" 'BEGIN { print (b - a) / 10000 * 100 }')
row "Plugin threads idle (unarmed), % of one core over 10 s vs the game's idle loop (Wine)" "%" \
  "$plugin" "$gameloop"
