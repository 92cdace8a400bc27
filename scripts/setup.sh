#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building and testing need, from Debian's packages.
# Does nothing when everything is already there.
set -euo pipefail

packages=(cmake g++ make pkg-config python3 qt6-base-dev qt6-charts-dev qt6-tools-dev qt6-l10n-tools libqt6opengl6-dev libpcap-dev nlohmann-json3-dev tshark
  xvfb xauth x11-utils clang libclang-rt-14-dev
  dpkg-dev file lintian appstream librsvg2-bin xz-utils
  doctest-dev g++-mingw-w64-x86-64-posix wine wine64
  ser2net libudev-dev libmodbus-dev mbpoll)
if [[ "${NX_SETUP_EXTRA:-}" != "" ]]; then
  read -r -a extra <<<"$NX_SETUP_EXTRA"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
