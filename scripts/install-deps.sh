#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and show the program.
set -euo pipefail
packages=(g++ cmake ninja-build qt6-base-dev qt6-base-dev-tools libgl-dev libgtest-dev
          libpng-dev zlib1g-dev clang libclang-rt-14-dev xvfb xauth iproute2)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
