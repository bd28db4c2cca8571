#!/usr/bin/env bash
# Packs files into a zip that comes out the same, byte for byte, on every
# machine and in every folder: entries in the order given, each folder entry
# before what it holds, one fixed time, fixed modes, and no owner, group or
# extra time fields (zip -X). Times are written in UTC, as zip stores local time.
#   pack_zip.sh OUT.zip STAGE ENTRY=FILE...
set -euo pipefail
zip=$1 stage=$2
shift 2
rm -rf "$stage" "$zip"
mkdir -p "$stage"
entries=()
for pair in "$@"; do
  entry=${pair%%=*} file=${pair#*=}
  folder=""
  for part in $(dirname "$entry" | tr '/' ' '); do
    [ "$part" != "." ] || continue
    folder+="$part/"
    [[ " ${entries[*]} " == *" $folder "* ]] || entries+=("$folder")
  done
  mkdir -p "$stage/$(dirname "$entry")"
  cp "$file" "$stage/$entry"
  entries+=("$entry")
done
find "$stage" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "$stage" -exec touch -d '2000-01-01 00:00:00 UTC' {} +
(cd "$stage" && TZ=UTC zip -X -q "$zip" "${entries[@]}")
