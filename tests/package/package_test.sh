#!/usr/bin/env bash
# The release zip holds the DLL in the game's layout and nothing else (no
# settings file of ours to overwrite a player's), and a game folder it is
# unpacked into loads the plugin.
set -euo pipefail
zip=$1 game_exe=$2 wine=$3

files=$(unzip -Z1 "$zip" | grep -v '/$')
if [ "$files" != "Data/VELQ/Plugins/Quellstone.dll" ]; then
  echo "unexpected contents of $zip: $files"
  exit 1
fi

game=$(mktemp -d /tmp/quellstone-package.XXXXXX)
trap 'rm -rf "$game"' EXIT
cp "$game_exe" "$game/"
(cd "$game" && unzip -q "$zip")
output=$("$wine" "$game/Duskhaven.exe" --run-ms 500 | tr -d '\r')
if ! grep -qx 'load: 1' <<<"$output"; then
  echo "the unpacked plugin did not load:"
  echo "$output"
  exit 1
fi
if [ ! -f "$game/Data/VELQ/Plugins/Quellstone.ini" ]; then
  echo "the plugin did not make its settings file on the first start"
  exit 1
fi
echo "package installs by unpacking: ok"
