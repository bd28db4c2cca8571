#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the plugin in the stand-in game for
# about 15 seconds, in a Wine virtual desktop (which draws window frames): a
# framed "Duskhaven" window that the plugin makes borderless, the worker armed
# after 3 seconds, the game's list toggling every 2 seconds. Saves screenshots
# of the window before and after the plugin loads, then prints the plugin's log
# and settings file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/lib.sh
qs_need_display "$0" "$@"

qs_build --windows-only
qs_wine_start

game="$QS_SCRATCH/Duskhaven"
shots="$QS_ROOT/build/demo"
mkdir -p "$game" "$shots"
cp build/win/bin/Duskhaven.exe "$game/"
cp -r dist/Data "$game/"

# Waits until the game has printed a line starting with $1, then photographs
# the virtual desktop into $2.
screenshot_when() {
  for _ in $(seq 200); do
    grep -q "^$1" "$QS_SCRATCH/game.txt" 2>/dev/null && break
    sleep 0.1
  done
  sleep 0.5 # let Wine paint
  import -window root -crop 1024x768+0+0 +repage "$2"
  echo "demo: saved $2"
}

echo "demo: running the stand-in game for 15 seconds"
"$QS_WINE" explorer /desktop=Duskhaven,1024x768 "$game/Duskhaven.exe" --window \
  --rect 120,90,640,420 --wait-before-load-ms 2500 --run-ms 15000 \
  --arm-after-ms 3000 --entries 0,0,0,42 --toggle-ms 2000 > "$QS_SCRATCH/game.txt" &
game_pid=$!
screenshot_when "window-before" "$shots/before-load.png"
screenshot_when "window-after" "$shots/after-load.png"
wait "$game_pid" || true
sed 's/^/  game: /' "$QS_SCRATCH/game.txt"

echo
echo "== Log: Documents/My Games/Duskhaven/VELQ/Logs/Quellstone.log"
cat "$HOME/My Games/Duskhaven/VELQ/Logs/Quellstone.log"
echo
echo "== Settings: (game folder)/Data/VELQ/Plugins/Quellstone.ini"
cat "$game/Data/VELQ/Plugins/Quellstone.ini"
