#!/usr/bin/env bash
# The release as a mod author or a careful player checks it: the DLL imports
# only Windows system DLLs, keeps its exploit mitigations, carries no DWARF
# and no path of the folder it was built in, and names its PDB by file name
# with the PDB's own GUID and age; and a clean build of the same tree in
# another folder gives the same bytes: DLL, PDB and both zips.
#   release_test.sh CHECKOUT BIN_FOLDER
set -euo pipefail
root=$1 bin=$2
dll=$root/dist/Data/VELQ/Plugins/Quellstone.dll pdb=$bin/Quellstone.pdb
fail() {
  echo "release: $*"
  exit 1
}

headers=$(llvm-objdump-16 -p "$dll")
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll SHELL32.dll USER32.dll msvcrt.dll " ] || fail "imports $imports"
# DYNAMIC_BASE, NX_COMPAT and HIGH_ENTROPY_VA.
flags=$(sed -n 's/^DllCharacteristics\s*//p' <<<"$headers")
(((0x$flags & 0x160) == 0x160)) || fail "DllCharacteristics $flags"
! llvm-objdump-16 -h "$dll" | grep -q ' \.debug' || fail "the DLL carries DWARF"
for file in "$dll" "$pdb"; do
  ! grep -q -F "$root" "$file" || fail "$file holds the build folder's path"
done

# The debug record's GUID (bytes as stored) and age against the PDB's own.
record=$(llvm-readobj-16 --coff-debug-directory "$dll")
read -r -a g <<<"$(sed -n 's/.*PDBGUID: (\(.*\))/\1/p' <<<"$record")"
guid="{${g[3]}${g[2]}${g[1]}${g[0]}-${g[5]}${g[4]}-${g[7]}${g[6]}-${g[8]}${g[9]}-"
guid+="${g[10]}${g[11]}${g[12]}${g[13]}${g[14]}${g[15]}}"
summary=$(llvm-pdbutil-16 dump -summary "$pdb")
grep -q "PDBFileName: Quellstone.pdb$" <<<"$record" || fail "debug record: $record"
grep -q "GUID: $guid$" <<<"$summary" || fail "PDB GUID is not $guid: $summary"
[ "$(sed -n 's/.*PDBAge: //p' <<<"$record")" = "$(sed -n 's/^ *Age: //p' <<<"$summary")" ] ||
  fail "the ages differ"

# The same tree, built afresh in a folder with another name and depth.
copy=$(mktemp -d /tmp/quellstone-rebuild.XXXXXX)
trap 'rm -rf "$copy"' EXIT
mkdir -p "$copy/another/checkout"
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
  tar -xf - -C "$copy/another/checkout"
cd "$copy/another/checkout"
cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/clang-mingw-w64-x86_64.cmake" \
  >/dev/null
cmake --build build/win --target zip >/dev/null
for file in dist/Data/VELQ/Plugins/Quellstone.dll dist/Quellstone-*.zip; do
  cmp "$root/$file" "$file" || fail "$file differs between two builds"
done
cmp "$pdb" build/win/bin/Quellstone.pdb || fail "the PDB differs between two builds"
echo "release checks and rebuild: the same bytes"
