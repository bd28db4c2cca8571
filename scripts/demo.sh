#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the plugin in the stand-in game for
# about 15 seconds: a framed "Duskhaven" window that the plugin makes
# borderless, the worker armed after 3 seconds, the game's list toggling every
# 2 seconds. Then prints the plugin's log and settings file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/lib.sh
qs_need_display "$0" "$@"

qs_build --windows-only
qs_wine_start

game="$QS_SCRATCH/Duskhaven"
mkdir -p "$game"
cp build/win/bin/Duskhaven.exe "$game/"
cp -r dist/Data "$game/"

echo "demo: running the stand-in game for 15 seconds"
"$QS_WINE" "$game/Duskhaven.exe" --window --rect 120,90,800,600 --run-ms 15000 \
  --arm-after-ms 3000 --entries 0,0,0,42 --toggle-ms 2000 | sed 's/^/  game: /'

echo
echo "== Log: Documents/My Games/Duskhaven/VELQ/Logs/Quellstone.log"
cat "$HOME/My Games/Duskhaven/VELQ/Logs/Quellstone.log"
echo
echo "== Settings: (game folder)/Data/VELQ/Plugins/Quellstone.ini"
cat "$game/Data/VELQ/Plugins/Quellstone.ini"
