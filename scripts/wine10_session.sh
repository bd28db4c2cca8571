#!/usr/bin/env bash
# Runs a command with Wine 10's root ready for the Windows test programs, in a
# mount namespace of its own (scripts/lib.sh: qs_wine10_run starts it there):
# every bind into the root lives only in that namespace, so none is ever seen
# outside it, and all of them go when it ends, however the command ends.
#   wine10_session.sh ROOT SCRATCH CHECKOUT COMMAND...
set -u
root=$1 scratch=$2 checkout=$3
shift 3
source "$checkout/scripts/lib.sh" # the same Wine paths and prefix set-up as Wine 8's

# Wine needs these; the tests' files live below /tmp and the checkout, bound
# at the same paths so that every path means the same inside.
binds=(/proc /sys /dev /dev/shm /tmp "$checkout")
for dir in "${binds[@]}"; do
  mkdir -p "$root$dir" && mount --bind "$dir" "$root$dir" || {
    echo "wine 10: cannot bind $dir into $root" >&2
    exit 1
  }
done

in_root() { chroot "$root" "$@"; }
# Every process whose root is Wine 10's: none may outlive the session.
root_processes() {
  for proc in /proc/[0-9]*; do
    [ "$(readlink "$proc/root" 2>/dev/null)" != "$root" ] || echo "${proc#/proc/}"
  done
}
finish() {
  in_root "$QS_WINESERVER" -k >/dev/null 2>&1
  for _ in $(seq 50); do
    [ -n "$(root_processes)" ] || break
    sleep 0.1
  done
  pids=$(root_processes)
  [ -z "$pids" ] || kill -9 $pids 2>/dev/null
  for ((i = ${#binds[@]} - 1; i >= 0; i--)); do
    umount -l "$root${binds[i]}" 2>/dev/null
  done
}
trap finish EXIT
trap 'exit 130' INT TERM

# A prefix and home of its own: the two Wines do not share a prefix. The
# server ends by itself a minute after a session that was killed outright.
export WINEPREFIX="$scratch/prefix-wine10" HOME="$scratch/home-wine10" WINEDEBUG=-all
mkdir -p "$HOME"
qs_make_prefix -p60 chroot "$root" || exit 1
qs_keep_desktop chroot "$root" "$QS_WINE"
echo "== Wine tests under $(in_root "$QS_WINE" --version)"
QS_WINE_ROOT=$root "$@"
