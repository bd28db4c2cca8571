#!/usr/bin/env bash
# The release zip holds the DLL in the game's layout and nothing else (no
# settings file of ours to overwrite a player's), and a game folder it is
# unpacked into loads the plugin, which makes its settings file.
set -euo pipefail
zip=$1 game_exe=$2 wine=$3
source "$(dirname "$0")/../../scripts/lib.sh"
qs_need_throwaway # the plugin logs into Documents
# One version everywhere a player or a mod site reads it: the zip's name, the
# DLL's version resource, the newest entry of CHANGELOG.md and PLAYERS.md; and
# SHA256SUMS beside the zips holds both zips' sums as they are.
root=$(cd "$(dirname "$0")/../.." && pwd)
version=$(basename "$zip" .zip)
version=${version#Quellstone-}
dll_version=$(unzip -p "$zip" Data/VELQ/Plugins/Quellstone.dll | strings -el | grep -A1 -x ProductVersion | tail -n 1)
changelog_version=$(sed -n 's/^## \([0-9][0-9.]*\).*/\1/p' "$root/CHANGELOG.md" | head -n 1)
[ "$dll_version" = "$version" ] || { echo "the DLL says $dll_version, the zip's name $version"; exit 1; }
[ "$changelog_version" = "$version" ] ||
  { echo "CHANGELOG.md's newest entry is $changelog_version, the zip's name says $version"; exit 1; }
grep -q "version $version\b" "$root/PLAYERS.md" || { echo "PLAYERS.md does not name version $version"; exit 1; }
(cd "$(dirname "$zip")" && sha256sum --quiet -c SHA256SUMS) || { echo "SHA256SUMS does not match the zips"; exit 1; }
grep -q " Quellstone-$version.zip\$" "$(dirname "$zip")/SHA256SUMS" &&
  grep -q " Quellstone-$version-symbols.zip\$" "$(dirname "$zip")/SHA256SUMS" ||
  { echo "SHA256SUMS does not list both zips of $version"; exit 1; }

files=$(unzip -Z1 "$zip" | grep -v '/$')
[ "$files" = "Data/VELQ/Plugins/Quellstone.dll" ] || { echo "the zip holds: $files"; exit 1; }

game=$(mktemp -d /tmp/quellstone-package.XXXXXX)
trap 'rm -rf "$game"' EXIT
cp "$game_exe" "$game/"
(cd "$game" && unzip -q "$zip")
output=$(timeout 30 "$wine" "$game/Duskhaven.exe" --virtual-clock | tr -d '\r')
grep -qx 'load: 1' <<<"$output" || { echo "the unpacked plugin did not load: $output"; exit 1; }
[ -f "$game/Data/VELQ/Plugins/Quellstone.ini" ] || { echo "no settings file was made"; exit 1; }
echo "package installs by unpacking, version $version agrees everywhere: ok"
