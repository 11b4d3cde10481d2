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
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi
