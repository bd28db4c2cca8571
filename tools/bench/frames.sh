# The game's frames alone and with the plugin, under one Wine: run by
# scripts/bench.sh, once per Wine (under Wine 10 inside its session).
#   frames.sh GAME_FOLDER OUT_FOLDER TAG [CASE...]
# The stand-in game renders 120 frames a second, each the same work (about
# 3 ms, calibrated once here and given to every run), and times each frame: its
# work, how late its work started after its due moment, and whether it
# finished after its deadline (a late frame, whatever the cause). "Alone" loads
# the plugin with the same exports and no code; "with the plugin" loads
# Quellstone.dll. Both are armed at once over a list of 1,000,000 entries with
# only the last present, so that the watcher sweeps the whole list every pass
# and the CPU worker does its work, with the default settings.
#
# Runs come in pairs, one of each side by side (in turn which goes first), so
# that the machine's drift over the minutes cancels out of each pair's ratio.
# A figure's ratio is the geometric mean of its pairs' ratios, with a 95 %
# interval from Student's t over the pairs. The verdict rests on the frames'
# mean time from due moment to done and on the late frames (see verdict). A
# case runs at least QS_FRAME_PAIRS pairs (5), then more while its verdict is
# undecided and its time (QS_FRAME_CASE_S, 120 s) allows; the busy game
# against the game alone, the case the plugin's promise rests on, may take
# up to 240 s (QS_FRAME_BUSY_S): it lies nearest the line. All cases
# together stop adding pairs at QS_FRAME_TOTAL_S (420 s), keeping the least
# pairs of the cases still to come, so that the bench stays near a quarter
# of an hour. Writes
# OUT/rows-TAG.md, OUT/verdicts-TAG.md, OUT/pairs-TAG.txt and the curves for
# the picture.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh" # the Wine's path
source "$(dirname "$0")/stats.sh"
game=$1 out=$2 tag=$3
shift 3
cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(main busy floor none)
wine_name=$(${QS_WINE_ROOT:+chroot "$QS_WINE_ROOT"} "$QS_WINE" --version)
# The game and the plugin in it run at a higher priority than the machine's
# other processes (nice -10, where allowed), as the game in front of the
# player does: what the other processes do then moves both sides of a pair
# less, while the plugin's threads still compete with the game's on equal
# terms, as they do under Wine.
frame_nice=${QS_FRAME_NICE:--10}
[ "$(nice -n "$frame_nice" nice 2>/dev/null)" = "$frame_nice" ] || frame_nice=0
run_game() {
  nice -n "$frame_nice" ${QS_WINE_ROOT:+chroot "$QS_WINE_ROOT"} "$QS_WINE" \
    "$game/Duskhaven.exe" "$@" | tr -d '\r'
}

frame_run_ms=${QS_FRAME_RUN_MS:-6000} # the first second is not counted (the stand-in's warm-up)
min_pairs=${QS_FRAME_PAIRS:-5}
((min_pairs >= 2)) || min_pairs=2 # an interval needs two pairs
case_budget_s=${QS_FRAME_CASE_S:-120}
busy_budget_s=${QS_FRAME_BUSY_S:-240}
total_budget_s=${QS_FRAME_TOTAL_S:-420}
busy_threads=$(($(nproc) - 1))
frame_units=$(run_game --calibrate-frame-us 3000 | sed -n 's/^frame-work-units: //p')

# One run: the frames' figures into $1.{work,late,done} (microseconds, one a
# line), their statistics into $1.{work,late,done}.stats (frame_stats, once
# for every later look at the pair) and its late frames into $1.count; $2 is
# the side (floor or plugin), the rest are options.
frame_run() {
  local file=$1 side=$2 loaded='^load: 1$'
  shift 2
  [ "$side" != floor ] || ! printf '%s\n' "$@" | grep -qx -- --bare || loaded='^load-us: '
  run_game --list-size 1000000 --present-last --arm-after-ms 0 \
    --run-ms "$frame_run_ms" --frame-work-units "$frame_units" "$@" >"$file.log"
  if ! grep -q "$loaded" "$file.log" || ! grep -q '^frames: ' "$file.log"; then
    echo "bench: a frames run did not load or did not finish:" >&2
    cat "$file.log" >&2
    exit 1
  fi
  sed -n 's/^frame-work-us: //p' "$file.log" | tr ' ' '\n' | sed '/^$/d' >"$file.work"
  sed -n 's/^frame-start-late-us: //p' "$file.log" | tr ' ' '\n' | sed '/^$/d' >"$file.late"
  paste "$file.late" "$file.work" | awk '{ print $1 + $2 }' >"$file.done"
  sed -n 's/^frames: .* late=\([0-9]*\).*/\1/p' "$file.log" >"$file.count"
  if [ "$(wc -l <"$file.work")" -ne "$(sed -n 's/^frames: counted=\([0-9]*\).*/\1/p' "$file.log")" ] ||
    [ "$(wc -l <"$file.late")" -ne "$(wc -l <"$file.work")" ]; then
    echo "bench: a frames run reported fewer times than it counted" >&2
    exit 1
  fi
  for kind in work late done; do
    frame_stats "$file.$kind" >"$file.$kind.stats"
  done
}

# Median, p99, p99.9 (nearest rank) and mean of the times in the file given,
# in ms.
frame_stats() {
  sort -n "$1" | awk '
    { v[NR] = $1 / 1000; sum += v[NR] }
    function at(p) { i = int(p * NR); if (i < p * NR) i++; return v[i < 1 ? 1 : i] }
    END { printf "%.4f %.4f %.4f %.4f\n", at(0.5), at(0.99), at(0.999), sum / NR }'
}

# A case's figure per pair, as "alone plugin" lines: $1 case, $2 kind (work,
# late or done), $3 column of frame_stats (1 median, 2 p99, 3 p99.9, 4 mean).
pair_figures() {
  local i
  for ((i = 1; i <= pairs; i++)); do
    echo "$(cut -d' ' -f"$3" "$out/$tag-$1-floor-$i.$2.stats")" \
      "$(cut -d' ' -f"$3" "$out/$tag-$1-plugin-$i.$2.stats")"
  done
}

# Whether the plugin's late frames are more than chance gives: with each
# frame as likely to be late on either side, the plugin's share of the late
# frames is binomial; prints the chance of at least as many late frames on its
# side, and how far that many lies above the even share in standard
# deviations (z).
late_excess() { # late-plugin late-alone frames-plugin frames-alone
  awk -v a="$1" -v b="$2" -v na="$3" -v nb="$4" 'BEGIN {
    n = a + b
    if (n == 0 || na <= 0 || nb <= 0) { print 1, 0; exit }
    p = na / (na + nb) # the share of the frames that ran with the plugin
    lp = n * log(1 - p); s = 0
    for (k = 0; k <= n; k++) { if (k >= a) s += exp(lp); lp += log((n - k) / (k + 1)) + log(p / (1 - p)) }
    printf "%.4f %.3f\n", (s > 1 ? 1 : s), (a - n * p) / sqrt(n * p * (1 - p))
  }'
}

# The verdict. The frames' mean time from due moment to done decides whether
# the plugin costs them more than 5 %: it counts every millisecond a frame
# loses, in its work or in waking late, and a few pairs pin it down. The p99
# cannot: at 600 frames a run it rests on six frames, the two halves of one
# run differ as much as two runs do, and a 5 % question would take some
# hundred pairs. The late frames, the ones a player sees, decide beside it:
# "no cost" wants no more of them than chance gives (at 95 %); "cost" follows
# from the mean's interval above 1.05 or from more late frames than chance
# gives at 99 %. Otherwise "undecided", with about how many more pairs it takes.
verdict() { # point low high pairs late-plugin late-alone late-p late-z pair-seconds floor-words
  awk -v p="$1" -v lo="$2" -v hi="$3" -v n="$4" -v lp="$5" -v lf="$6" -v chance="$7" -v z="$8" \
    -v s="$9" -v w="${10}" 'BEGIN {
    said = sprintf("mean ratio %.3f (%.3f to %.3f), late frames %d against %d for %s (chance of as many: %.3f)", p, lo, hi, lp, lf, w, chance)
    if (lo > 1.05 || chance < 0.01) { printf "cost: %s\n", said; exit }
    if (hi <= 1.05 && chance >= 0.05) { printf "no cost: %s\n", said; exit }
    # An interval narrows with the square root of the pairs, and a real excess
    # of late frames grows its z with it.
    k = 0
    if (hi > 1.05 && p < 1.05) k = n * ((log(hi) - log(p)) / (log(1.05) - log(p)))^2 - n
    else if (hi > 1.05 && p > 1.05) k = n * ((log(p) - log(lo)) / (log(p) - log(1.05)))^2 - n
    if (chance < 0.05 && z > 0 && n * (2.326 / z)^2 - n > k) k = n * (2.326 / z)^2 - n
    if (hi > 1.05 && p == 1.05) more = "its ratio lies on 1.05: no number of pairs decides it"
    else if (k > 1000) more = "it lies too near the line for any run of this bench to decide"
    else { k = int(k) + 1; more = sprintf("about %d more pairs (%d s) to decide", k, k * s) }
    printf "undecided: %s; %s\n", said, more
  }'
}

late_total() { cat "$out/$tag-$1-$2"-*.count | awk '{ s += $1 } END { print s + 0 }'; }
frames_total() { cat "$out/$tag-$1-$2"-*.work | wc -l; }

# $1 case, $2 its words, $3 the floor's words, then the floor's options, "--",
# the plugin's, "--" and the options of both.
frame_case() {
  local setting=$1 words=$2 floor_words=$3 floor_opts=() plugin_opts=() first second started pair_s
  local late_plugin late_floor frames_plugin frames_floor now budget_s=$case_budget_s
  [ "$setting" != busy ] || budget_s=$busy_budget_s
  shift 3
  while [ "$1" != -- ]; do floor_opts+=("$1"); shift; done
  shift
  while [ "$1" != -- ]; do plugin_opts+=("$1"); shift; done
  shift
  pairs=0 started=$(date +%s)
  while :; do
    pairs=$((pairs + 1))
    # In turn which side goes first, so that a drift within a pair cancels too.
    if ((pairs % 2)); then first=floor second=plugin; else first=plugin second=floor; fi
    for side in $first $second; do
      if [ "$side" = floor ]; then
        frame_run "$out/$tag-$setting-floor-$pairs" floor "${floor_opts[@]}" "$@"
      else
        frame_run "$out/$tag-$setting-plugin-$pairs" plugin ${plugin_opts[@]+"${plugin_opts[@]}"} "$@"
      fi
    done
    pair_s=$((($(date +%s) - started) / pairs))
    ((pairs >= min_pairs)) || continue
    read -r point low high < <(pair_figures "$setting" done 4 | awk '{ print $2 / $1 }' | ratio_interval)
    late_plugin=$(late_total "$setting" plugin) late_floor=$(late_total "$setting" floor)
    frames_plugin=$(frames_total "$setting" plugin) frames_floor=$(frames_total "$setting" floor)
    read -r chance z < <(late_excess "$late_plugin" "$late_floor" "$frames_plugin" "$frames_floor")
    v=$(verdict "$point" "$low" "$high" "$pairs" "$late_plugin" "$late_floor" "$chance" "$z" \
      "$pair_s" "$floor_words")
    now=$(date +%s)
    [[ $v == undecided* ]] && ((now - started + pair_s <= budget_s)) &&
      ((now - cases_started + pair_s * (1 + cases_after * min_pairs) <= total_budget_s)) || break
  done
  local what="Frames, $words, $pairs pairs of $((frame_run_ms / 1000 - 1)) s, vs $floor_words ($wine_name, nice $frame_nice)"
  figure_row() { # words, kind, column
    local a b point low high figures
    figures=$(pair_figures "$setting" "$2" "$3")
    read -r a b < <(awk '{ a += log($1 > 0.001 ? $1 : 0.001); b += log($2 > 0.001 ? $2 : 0.001) } END { print exp(a / NR), exp(b / NR) }' <<<"$figures")
    read -r point low high < <(awk '{ print ($2 > 0.001 ? $2 : 0.001) / ($1 > 0.001 ? $1 : 0.001) }' <<<"$figures" | ratio_interval)
    awk -v w="$what: $1" -v a="$a" -v b="$b" -v p="$point" -v lo="$low" -v hi="$high" \
      'BEGIN { printf "| %s | %.3f ms | %.3f ms | %.3f (%.3f to %.3f) |\n", w, b, a, p, lo, hi }'
  }
  {
    figure_row "work, median" work 1
    figure_row "work, p99" work 2
    figure_row "work, p99.9" work 3
    figure_row "start after the due moment, p99" late 2
    figure_row "due moment to done, mean" done 4
    figure_row "due moment to done, p99" done 2
    echo "| $what: late frames (done after the deadline) | $late_plugin of $frames_plugin |" \
      "$late_floor of $frames_floor | |"
  } >>"$out/rows-$tag.md"
  echo "- Frames, $words, $wine_name, $pairs pairs: $v." >>"$out/verdicts-$tag.md"
  # For the picture: each pair's ratio of the mean due moment to done, and the
  # pooled frames of each side.
  pair_figures "$setting" done 4 | awk -v c="$tag-$setting" -v p="$point" -v lo="$low" -v hi="$high" \
    '{ print c, NR, $2 / $1, p, lo, hi }' >>"$out/pairs-$tag.txt"
  for side in floor plugin; do
    cat "$out/$tag-$setting-$side"-*.done | sort -n |
      awk '{ v[NR] = $1 } END { for (i = 1; i <= NR; i++) print v[i] / 1000, (NR - i + 1) / NR }' \
        >"$out/curve-$tag-$setting-$side.txt"
  done
}

# Two runs that count for nothing, the plugin's and the game alone's: Wine
# starts its device services (winedevice.exe, plugplay.exe, svchost.exe) in a
# fresh prefix during the first run with the plugin in it (under Wine 8 the
# game alone starts none), and another winedevice.exe in the run after it;
# they hold a core for milliseconds at a time (seen with the kernel's
# scheduler trace), which would fall on the first pairs, mostly on the
# plugin's side. Wine 10's session and --shares start from a fresh prefix.
frame_run "$out/$tag-warm-up-plugin" plugin
frame_run "$out/$tag-warm-up-alone" floor --plugin MinimalPlugin.dll

: >"$out/rows-$tag.md"
: >"$out/verdicts-$tag.md"
: >"$out/pairs-$tag.txt"
busy=(--busy-threads "$busy_threads")
cases_started=$(date +%s) cases_after=${#cases[@]}
for setting in "${cases[@]}"; do
  cases_after=$((cases_after - 1))
  case $setting in
  main) frame_case main "main thread alone" "the game alone" --plugin MinimalPlugin.dll -- -- ;;
  busy) frame_case busy "game busy on every core" "the game alone" --plugin MinimalPlugin.dll -- -- "${busy[@]}" ;;
  # The floor: three bare threads with the plugin's sleeps and a plain-load
  # scan of the list, the plugin's work done the plainest way.
  floor) frame_case floor "game busy on every core" "the same work done bare" --bare -- -- "${busy[@]}" ;;
  # The list with no entry present, which no pass can make cheap: each one
  # sweeps all of it, as the floor's plain loads do.
  none) frame_case none "game busy on every core, no entry present" "the same work done bare" \
    --bare -- -- "${busy[@]}" --no-entry-present ;;
  # What costs the frames: the whole plugin against the plugin with one of its
  # activities left out (scripts/bench.sh --shares). Without the scan: the
  # present entry first, so that each pass stops at once; without the
  # worker's passes and lines: never armed; without the monitor's passes: a
  # build whose monitor thread only sleeps.
  no-scan) frame_case no-scan "game busy, the whole plugin" "it without the watcher's scan" \
    --present-first -- -- "${busy[@]}" ;;
  no-worker) frame_case no-worker "game busy, the whole plugin" "it without the worker's passes" \
    --arm-after-ms -1 -- -- "${busy[@]}" ;;
  no-monitor) frame_case no-monitor "game busy, the whole plugin" "it without the monitor's passes" \
    --plugin QuellstoneNoMonitor.dll -- -- "${busy[@]}" ;;
  # The plugin against another build of it put in the game's folder (named
  # by QS_FRAME_AGAINST): what a change did.
  against) frame_case against "game busy, this build" "${QS_FRAME_AGAINST:-}" \
    --plugin "${QS_FRAME_AGAINST:-}" -- -- "${busy[@]}" ;;
  *) echo "frames.sh: no case $setting" >&2; exit 1 ;;
  esac
done
