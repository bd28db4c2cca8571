#!/usr/bin/env bash
# Started in a Wine prefix and home folder that are not a marked throwaway
# pair, whose Documents holds another game's save, the test launcher and the
# Wine test program (started with wine itself too) refuse with one line,
# listing included, and the save and the registry's Documents location are as
# they were. The prefix and home are the run's own, shown unmarked for the
# while (a prefix of the test's own would cost a wineboot); nothing else of
# the run may go on meanwhile, as with ctest's default of one test at a time.
#   refusal_test.sh WINE_TESTS_EXE LAUNCHER
set -euo pipefail
exe=$1 launcher=$2
source "$(dirname "$0")/../../scripts/lib.sh"
qs_need_throwaway # the test itself writes into Documents
wine=("$QS_WINE")
[ -z "${QS_WINE_ROOT:-}" ] || wine=(chroot "$QS_WINE_ROOT" "$QS_WINE")
problems=0
problem() { echo "refusal: $*" && problems=1; }

documents=$(qs_documents)
save="$documents/My Games/Other Game/save.dat"
mkdir -p "${save%/*}"
echo "another game's save $RANDOM$RANDOM" >"$save"
expected=$(cat "$save")
listing() { find "$documents/My Games" -printf '%P %s %T@\n' | sort; }
files=$(listing) # with what earlier tests of the run left there
personal() {
  "$launcher" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
    /v Personal | tr -d '\r' | grep Personal
}
before=$(personal)

marks=("$WINEPREFIX/drive_c" "$documents" "$HOME") # Documents may be the home folder
marks=("${marks[@]/%//$QS_THROWAWAY_MARK}")
show() { for mark in "$@"; do [ ! -e "$mark.hidden" ] || mv "$mark.hidden" "$mark"; done; }
trap 'show "${marks[@]}"; rm -rf "${save%/*}"' EXIT
for mark in "${marks[@]}"; do [ ! -e "$mark" ] || mv "$mark" "$mark.hidden"; done

refuses() {
  local output
  ! output=$("$@" 2>&1) || problem "ran: $*"
  [ "$(tr -d '\r' <<<"$output")" = "$QS_REFUSAL" ] || problem "$* said: $output"
}
# Tests that delete My Games and that point Documents elsewhere.
filter=--gtest_filter='Load.DeclinedHosts*:Logging.DocumentsFolderOutsideTheAnsiCodePage*'
refuses "$launcher" "$exe" "$filter"
refuses "$launcher" "$exe" --gtest_list_tests
refuses "${wine[@]}" "$exe" "$filter"
show "${marks[0]}" # a prefix of the scripts', Documents and home not
refuses "${wine[@]}" "$exe" "$filter"
show "${marks[@]}"

[ "$(cat "$save" 2>/dev/null)" = "$expected" ] || problem "the save is not as it was"
[ "$(listing)" = "$files" ] || problem "My Games held: $files; now: $(listing)"
[ "$(personal)" = "$before" ] || problem "Documents lay at: $before; now at: $(personal)"
[ "$problems" = 0 ] && echo "refusal: refused with one line, nothing touched"
