#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on a fresh Debian
# machine. Safe to run again: it only calls apt when something is missing.
#   setup.sh              the packages, then Wine 10's root
#   setup.sh --packages   the packages only
#   setup.sh --wine10     Wine 10's root only (once the packages are there); the
#                         test command makes it while it builds and runs Wine 8
set -euo pipefail
part=${1:-all}

# fonts-wine: Wine's own fonts, among them Marlett, which draws the caption
# buttons of a framed window (the demo's screenshots; lib.sh puts a copy into
# each throwaway prefix); without it they show as letters.
packages=(
  cmake ninja-build g++ libgtest-dev googletest clang-format
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 clang-16 lld-16 llvm-16
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick zip unzip debootstrap tzdata gnuplot-nox
  python3
)

missing=()
[ "$part" != --wine10 ] || packages=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine 10, on which the Proton that Linux and Steam Deck players run is built:
# a Debian 13 root, made once, that the test command runs the Wine suite in a
# second time. It lives outside the checkout and the home folder. Made in a
# separate folder and renamed when complete, so a broken run leaves nothing
# that looks usable; nothing here deletes a folder that has anything mounted
# in it (a recursive delete would follow the binds into /dev and /tmp).
wine10_root=/var/cache/quellstone/wine10
if [ "$part" != --packages ] && [ ! -e "$wine10_root/.complete" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: not root, so no Wine 10 root in $wine10_root: the Wine tests run under Wine 8 only"
  elif ! command -v debootstrap >/dev/null; then
    echo "setup: no debootstrap, so no Wine 10 root: the Wine tests run under Wine 8 only"
  else
    partial="$wine10_root.partial"
    if grep -q " $(dirname "$wine10_root")/" /proc/mounts; then
      echo "setup: something is still mounted below $(dirname "$wine10_root"); not touching it" >&2
      exit 1
    fi
    rm -rf "$partial" "$wine10_root"
    mkdir -p "$(dirname "$wine10_root")"
    # The machine's own Debian mirror, as apt is set up here.
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    echo "setup: making a Debian 13 root with Wine 10 in $wine10_root (once, about a minute with a fast mirror)"
    debootstrap --variant=minbase --include=wine,wine64,xvfb,xauth,tzdata trixie "$partial" $mirror \
      >"/tmp/quellstone-debootstrap.log" 2>&1 ||
      { echo "setup: debootstrap failed, see /tmp/quellstone-debootstrap.log" >&2; exit 1; }
    touch "$partial/.complete"
    mv "$partial" "$wine10_root"
  fi
fi
