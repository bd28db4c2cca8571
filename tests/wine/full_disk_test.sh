#!/usr/bin/env bash
# The settings folder on a drive with no room left: the default file cannot be
# written, so the log must not call it created and no empty or partial file
# may stay behind; the next start with room makes it whole. Then the log's
# folder on a full drive: the lines written meanwhile are lost, and those
# written once there is room again are there.
#
# The drive is a small tmpfs, filled up, in a mount namespace of this test's
# own. Wine's server opens the files for its programs, so the game runs with
# a server of its own inside that namespace: on a copy of the test run's
# prefix (a server serves one prefix). Needs root, as the suite's runs are.
#   full_disk_test.sh BIN_FOLDER
set -euo pipefail
bin=$1
source "$(dirname "$0")/../../scripts/lib.sh" # the Wine paths
qs_need_throwaway # the prefix that is copied
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: making a full drive needs root"
  exit 77
fi
if [ -z "${QS_FULL_DISK_NAMESPACE:-}" ]; then
  exec unshare --mount --propagation private env QS_FULL_DISK_NAMESPACE=1 bash "$0" "$@"
fi

root=${QS_WINE_ROOT:-} # Wine 10 runs in its own root: paths there are $root/...
work=$(mktemp -d /tmp/quellstone-full-disk.XXXXXX)
plugins=$work/game/Data/VELQ/Plugins
logs=""
in_root=()
[ -z "$root" ] || in_root=(chroot "$root")
wineserver=("${in_root[@]}" "$QS_WINESERVER")
finish() {
  WINEPREFIX=$work/prefix "${wineserver[@]}" -k >/dev/null 2>&1 || true
  umount -l "$root$plugins" 2>/dev/null || true
  [ -z "$logs" ] || umount -l "$logs" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "full disk: $*"
  exit 1
}

cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX=$work/prefix
documents=$(find "$root$WINEPREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -name Documents \
  -not -path '*/Public/*' | head -n 1)
[ -n "$documents" ] || fail "no Documents folder in the prefix"
# A folder of the copy's own, not the link to the test run's home.
rm -rf "$documents" && mkdir "$documents"
logs="$documents/My Games/Duskhaven/VELQ/Logs"
log="$logs/Quellstone.log"

mkdir -p "$plugins"
cp "$bin/Duskhaven.exe" "$work/game/"
mount -t tmpfs -o size=1m quellstone-full "$root$plugins"
cp "$bin/Quellstone.dll" "$root$plugins/"
dd if=/dev/zero of="$root$plugins/filler" bs=4k 2>/dev/null || true
[ "$(df --output=avail -B1 "$root$plugins" | tail -n 1 | tr -d ' ')" = 0 ] || fail "the drive has room"

# Starts the game in the background with these options, on the stand-in's
# clock; its output goes straight to a file, so that its load can be seen
# while it runs.
run_game() {
  timeout 40 "${in_root[@]}" /bin/sh -c 'cd "$1" && shift && exec "$@"' sh \
    "$work/game" "$QS_WINE" "$work/game/Duskhaven.exe" --virtual-clock "$@" >"$work/out" 2>&1 &
  game_pid=$!
}
# Waits for the game to end by itself and checks that the plugin loaded.
game_ended() {
  wait "$game_pid" || fail "the game did not end by itself: $(cat "$work/out")"
  grep -qx 'load: 1' <(tr -d '\r' <"$work/out") || fail "the plugin did not load: $(cat "$work/out")"
}
# The path the game sees of a file below the prefix's drive C.
winepath_of() {
  local inside=${1#"$root$WINEPREFIX/drive_c"}
  printf 'C:%s' "${inside//\//\\}"
}
messages() { tr -d '\r' <"$log" | sed 's/^\[[^]]*\] //'; }

# One start of the game; prints its settings report line.
start() {
  rm -rf "$documents/My Games"
  run_game
  game_ended
  messages | grep -a ' INI: ' || fail "no settings line in the log"
}

line=$(start)
[ "$line" = "[QS] Could not create default INI: Iter=10000, Sleep=5, Overlay=1" ] ||
  fail "a full drive gave: $line"
[ ! -e "$root$plugins/Quellstone.ini" ] || fail "a settings file the drive did not take stayed behind"

rm "$root$plugins/filler"
line=$(start)
[ "$line" = "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1" ] ||
  fail "with room the next start gave: $line"
cmp -s "$root$plugins/Quellstone.ini" \
  <(printf '[Settings]\r\nIter=10000\r\nSleep=5\r\nOverlayBatch=1\r\n') ||
  fail "the file made with room is not the default file"

# The log's folder fills up: the load's lines are lost; room comes back once
# the load has returned (the game's run waits for it), and the monitor's
# first pass, 5 seconds in, is logged.
mkdir -p "$logs"
mount -t tmpfs -o size=1m quellstone-full-log "$logs"
dd if=/dev/zero of="$logs/filler" bs=4k 2>/dev/null || true
run_game --run-ms 6000 --wait-for-gone "$(winepath_of "$logs/filler")"
for _ in $(seq 300); do
  ! grep -q '^load: ' "$work/out" || break
  sleep 0.1
done
grep -q '^load: ' "$work/out" || fail "the game did not report its load within 30 s"
rm "$logs/filler"
game_ended
lines=$(messages)
! grep -qx '\[QS\] All threads started\.' <<<"$lines" || fail "a line reached a full drive"
grep -q "^\[MM\] Process WS:" <<<"$lines" || fail "no line came back once there was room: $lines"
echo "full disk: the refused settings file is said so and left out, the next start makes it;"
echo "log lines come back once the drive has room"
