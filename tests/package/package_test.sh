#!/usr/bin/env bash
# The release zip holds the DLL in the game's layout and nothing else (no
# settings file of ours to overwrite a player's), and a game folder it is
# unpacked into loads the plugin, which makes its settings file.
set -euo pipefail
zip=$1 game_exe=$2 wine=$3
source "$(dirname "$0")/../../scripts/lib.sh"
qs_need_throwaway # the plugin logs into Documents
files=$(unzip -Z1 "$zip" | grep -v '/$')
[ "$files" = "Data/VELQ/Plugins/Quellstone.dll" ] || { echo "the zip holds: $files"; exit 1; }

game=$(mktemp -d /tmp/quellstone-package.XXXXXX)
trap 'rm -rf "$game"' EXIT
cp "$game_exe" "$game/"
(cd "$game" && unzip -q "$zip")
output=$(timeout 30 "$wine" "$game/Duskhaven.exe" --run-ms 500 | tr -d '\r')
grep -qx 'load: 1' <<<"$output" || { echo "the unpacked plugin did not load: $output"; exit 1; }
[ -f "$game/Data/VELQ/Plugins/Quellstone.ini" ] || { echo "no settings file was made"; exit 1; }
echo "package installs by unpacking: ok"
