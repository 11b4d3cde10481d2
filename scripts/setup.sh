#!/bin/bash
# Installs everything the build, the tests and the demo need (Debian, as root).
# Safe to run again: apt-get skips what is there.
set -eu
pkgs="cmake ninja-build ccache g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
      binutils-mingw-w64 mingw-w64-tools googletest wine wine64 wine32:i386
      xvfb xauth x11-utils xdotool imagemagick python3 util-linux clang-format
      wixl msitools osslsigncode openssl"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
  $SUDO dpkg --add-architecture i386
  # A mirror in the middle of a sync fails one index now and then; retry, then
  # go on with the indexes that did arrive: the install below is what must work.
  for try in 1 2 3; do
    $SUDO apt-get update -q && break
    echo "setup: package index refresh failed (try $try), retrying" >&2
    sleep $((try * 10))
  done
  install() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$@"; }
  if ! install $missing; then
    all=$(printf '%s\n' $missing | tr '\n' ' ')
    rest=$(printf '%s\n' $missing | grep -v ':i386$' | tr '\n' ' ')
    if [ "$rest" = "$all" ]; then
      # Nothing 32-bit to leave out: one more try with fresh indexes.
      $SUDO apt-get update -q || true
      install $missing
    else
      # Without the i386 indexes 32-bit Wine cannot be had; everything else
      # still can, and the test command then checks i686 without running it.
      echo "setup: WARNING: 32-bit packages could not be installed; i686 programs will not be run" >&2
      install $rest
    fi
  fi
fi
