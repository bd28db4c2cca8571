#!/usr/bin/env bash
# The settings folder on a drive with no room left: the default file cannot be
# written, so the log must not call it created and no empty or partial file
# may stay behind; the next start with room makes it whole.
#
# The drive is a small tmpfs, filled up, in a mount namespace of this test's
# own. Wine's server opens the files for its programs, so the game runs with
# a server of its own inside that namespace: on a copy of the test run's
# prefix (a server serves one prefix). Needs root, as the suite's runs are.
#   full_disk_test.sh BIN_FOLDER LAUNCHER
set -euo pipefail
bin=$1 launcher=$2
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
wineserver=(/usr/lib/wine/wineserver)
[ -z "$root" ] || wineserver=(chroot "$root" /usr/lib/wine/wineserver)
finish() {
  WINEPREFIX=$work/prefix "${wineserver[@]}" -k >/dev/null 2>&1 || true
  umount -l "$root$plugins" 2>/dev/null || true
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
log="$documents/My Games/Duskhaven/VELQ/Logs/Quellstone.log"

mkdir -p "$plugins"
cp "$bin/Duskhaven.exe" "$work/game/"
mount -t tmpfs -o size=1m quellstone-full "$root$plugins"
cp "$bin/Quellstone.dll" "$root$plugins/"
dd if=/dev/zero of="$root$plugins/filler" bs=4k 2>/dev/null || true
[ "$(df --output=avail -B1 "$root$plugins" | tail -n 1 | tr -d ' ')" = 0 ] || fail "the drive has room"

# One start of the game; prints its settings report line.
start() {
  rm -rf "$documents/My Games"
  local output
  output=$(cd "$work/game" && timeout 60 "$launcher" "$work/game/Duskhaven.exe" --run-ms 300 |
    tr -d '\r') || fail "the game did not end by itself: $output"
  grep -qx 'load: 1' <<<"$output" || fail "the plugin did not load: $output"
  grep -a ' INI: ' "$log" | tr -d '\r' | sed 's/^\[[^]]*\] //' || fail "no settings line in the log"
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
rm -rf "$documents/My Games"
echo "full disk: the refused file is said so and left out, the next start makes it"
