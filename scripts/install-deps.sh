#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs to build, run and be tested.
# Only what is missing is installed. --package: also what checks the Debian
# package (scripts/package.sh).
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache zlib1g-dev libsodium-dev
  qt6-base-dev qt6-multimedia-dev qt6-serialport-dev libqt6multimedia6
  qt6-translations-l10n
  fonts-dejavu-core fontconfig
  libgtest-dev libgmock-dev libbenchmark-dev
  libpq-dev postgresql-15
  clang libclang-rt-14-dev
  xvfb xauth x11-utils imagemagick poppler-utils
  dpkg-dev systemd
  # The core cross-built for Windows and tried under Wine (scripts/windows.sh).
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev googletest wine64 wine
)
if [ "${1:-}" = "--package" ]; then
  packages+=(lintian)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -q
  # The packages' services (PostgreSQL's default cluster among them) are not
  # started by the install: the tests start what they need in a folder of
  # their own and stop it after.
  guard=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    guard=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$guard" >/dev/null
    $sudo chmod 755 "$guard"
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" || status=$?
  if [ -n "$guard" ]; then $sudo rm -f "$guard"; fi
  [ "$status" -eq 0 ] || exit "$status"
fi
