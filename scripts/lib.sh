# Shared by the demo, test and benchmark scripts: building, and a throwaway
# Wine prefix with its own home folder (Wine links Documents to $HOME), so that
# nothing is ever written into the real home folder.

QS_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QS_WINE=/usr/lib/wine/wine64
QS_WINESERVER=/usr/lib/wine/wineserver

# The Wine tests delete "My Games" in Documents and point Documents elsewhere
# in the registry; in a contributor's own prefix, Documents is their real one,
# where other games keep their saves. So the test launcher, the Wine test
# program and the script tests run only in a prefix and home folder that
# qs_make_prefix made and marked, each mark naming the prefix. A variable a
# shell carries over proves nothing: the marks are files in those folders.
QS_THROWAWAY_MARK=.quellstone-throwaway
QS_REFUSAL="refusing to run: the Wine prefix and home folder are not a throwaway pair \
made by scripts/lib.sh, and the tests delete and rewrite files there; run \
bash scripts/with_wine.sh ctest --preset win (or bash scripts/test.sh)"

# Configures and builds the given builds of CMakePresets.json, the one
# description of each: win (the DLL, the stand-in game, the Wine tests; the DLL
# lands in dist/Data/VELQ/Plugins/Quellstone.dll), native (the unit tests) and
# sanitize (the unit tests under the sanitizers). With no names, win and
# native; --windows-only is win alone. Fails as soon as one build fails, also
# where the caller has no set -e.
qs_build() {
  local presets=("$@")
  [ $# -gt 0 ] || presets=(win native)
  [ "${1:-}" != "--windows-only" ] || presets=(win)
  # A build folder that an older checkout configured for GCC (with another
  # toolchain file) is made afresh. The clang toolchain sets the compiler
  # outside the cache, so the cache names only the toolchain file.
  if [ -f "$QS_ROOT/build/win/CMakeCache.txt" ] &&
    ! grep -q '^CMAKE_TOOLCHAIN_FILE:.*/clang-mingw-w64-x86_64\.cmake$' \
      "$QS_ROOT/build/win/CMakeCache.txt"; then
    rm -rf "$QS_ROOT/build/win"
  fi
  local preset
  for preset in "${presets[@]}"; do
    (cd "$QS_ROOT" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset") ||
      return 1
  done
}

# The code a measurement ran, by the git trees of its folders (what
# `git rev-parse --short HEAD:src` and the like give), not by a commit: a
# tree's name stays the same however the history around it is rewritten.
# "+changed" when the checkout differs from them (docs/generated aside), and
# the machine.
qs_code_label() {
  local dir trees=()
  for dir in src tools tests scripts; do
    trees+=("$dir/ $(git -C "$QS_ROOT" rev-parse --short "HEAD:$dir" 2>/dev/null || echo unknown)")
  done
  local label="code trees ${trees[0]}, ${trees[1]}, ${trees[2]}, ${trees[3]}"
  [ -z "$(git -C "$QS_ROOT" status --porcelain --untracked-files=no -- . ':!docs/generated' 2>/dev/null)" ] ||
    label="$label+changed"
  echo "$label, $(nproc) cores of $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(free -g | awk '/^Mem:/ { print $2 }') GiB"
}

# Makes a new prefix and keeps its wineserver alive until the script ends.
qs_wine_start() {
  QS_SCRATCH=$(mktemp -d /tmp/quellstone.XXXXXX)
  export WINEPREFIX="$QS_SCRATCH/prefix" HOME="$QS_SCRATCH/home" WINEDEBUG=-all
  mkdir -p "$HOME"
  trap qs_wine_stop EXIT
  echo "wine: making a throwaway prefix in $WINEPREFIX"
  qs_make_prefix -p
}

# Makes the prefix $WINEPREFIX with the Wine that the words after the server's
# persistence option start programs with: none for the system's Wine,
# "chroot ROOT" for the one in that root. The server first, persistent, so
# that every program of the run shares it instead of starting one of its own.
qs_make_prefix() {
  local persist=$1
  shift
  mkdir -p "$WINEPREFIX"
  "$@" "$QS_WINESERVER" "$persist"
  # A 64-bit-only Wine reports that it has no 32-bit rundll32; that is fine.
  "$@" "$QS_WINE" wineboot -i >/dev/null 2>&1 || true
  # Wine draws the caption buttons of a framed window with the Marlett font
  # (from fonts-wine), but this Wine does not look in its own fonts folder for
  # it: without a copy in the prefix the buttons show as the letters "0 1 r".
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  # A program that crashes ends at once with a backtrace on the console,
  # instead of waiting for someone to close Wine's crash dialog.
  "$@" "$QS_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || true
  if [ ! -d "$WINEPREFIX/drive_c/users" ]; then
    echo "wine: could not make a prefix in $WINEPREFIX" >&2
    return 1
  fi
  # Documents is the prefix's own folder or a link to the home folder, which
  # the caller made empty for the run.
  local folder
  for folder in "$WINEPREFIX/drive_c" "$(qs_documents)" "$HOME"; do
    printf '%s' "$WINEPREFIX" >"$folder/$QS_THROWAWAY_MARK"
  done
}

# The Documents folder of the prefix's user.
qs_documents() {
  find "$WINEPREFIX/drive_c/users" -mindepth 2 -maxdepth 2 -name Documents \
    -not -path '*/Public/*' | head -n 1
}

# True when the prefix Wine uses now and the home folder carry the marks of
# one throwaway pair.
qs_in_throwaway() {
  local prefix=${WINEPREFIX:-$HOME/.wine}
  [ "$(cat "$prefix/drive_c/$QS_THROWAWAY_MARK" 2>/dev/null)" = "$prefix" ] &&
    [ "$(cat "$HOME/$QS_THROWAWAY_MARK" 2>/dev/null)" = "$prefix" ]
}

# Ends the script with the refusal outside such a pair.
qs_need_throwaway() {
  qs_in_throwaway || {
    echo "$QS_REFUSAL"
    exit 1
  }
}

# For the tests: a program with a window keeps Wine's desktop up for the whole
# run. Without one, each program that opens a window after a quiet spell
# starts the desktop anew (3 to 10 seconds), and the desktop lingers for
# seconds after it holding copies of that program's handles. Wine ends it
# with its server. Not for the demo, whose screenshots it would be in.
# Disowned: its end, killed with the rest, is no news in the test output.
qs_keep_desktop() {
  "$@" notepad >/dev/null 2>&1 &
  disown
}

# Wine 10, as Proton builds on it: the Debian 13 root that setup.sh makes.
QS_WINE10_ROOT=/var/cache/quellstone/wine10
qs_have_wine10() { [ -e "$QS_WINE10_ROOT/.complete" ]; }

# Runs a command (ctest) with the Windows test programs started under Wine 10,
# in a mount namespace that takes every bind into the root with it when it
# ends. Needs qs_wine_start first, for the scratch folder.
qs_wine10_run() {
  unshare --mount --propagation private \
    bash "$QS_ROOT/scripts/wine10_session.sh" "$QS_WINE10_ROOT" "$QS_SCRATCH" "$QS_ROOT" "$@"
}

qs_wine_stop() {
  "$QS_WINESERVER" -k >/dev/null 2>&1 || true
  chattr -R -i "$QS_SCRATCH" 2>/dev/null || true # a test may have left a folder immutable
  rm -rf "$QS_SCRATCH"
}

# Windows and message boxes need a display: start again under Xvfb if there
# is none.
qs_need_display() {
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$@"
  fi
}
