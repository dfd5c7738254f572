#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test, package and show the program;
# asks for nothing when everything is there.
set -euo pipefail
# The record store: Qt's SQLite and PostgreSQL drivers, and a PostgreSQL server that the
# tests run as a throwaway cluster of their own (tests/records/with_postgres.sh). The
# package: help2man writes the manual pages, lintian checks the .deb, bash-completion lets
# the tests run the completion.
packages=(g++ cmake ninja-build qt6-base-dev qt6-base-dev-tools libgl-dev libgtest-dev
          libpng-dev zlib1g-dev clang xvfb xauth iproute2 dpkg-dev file
          help2man lintian bash-completion
          libqt6sql6-sqlite libqt6sql6-psql postgresql)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
updated=false

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
update_once() {
  $updated || $sudo_cmd apt-get update -qq
  updated=true
}
install() {
  update_once
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "$@"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
  install "${missing[@]}"
fi

# clang's fuzzer and sanitizer runtimes come in a package named after its major version
# (libclang-rt-14-dev on Debian 12, libclang-rt-19-dev on Debian 13), which clang only
# recommends; older releases ship them with clang itself and have no such package.
runtime="libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
if ! installed "$runtime"; then
  update_once
  if apt-cache show "$runtime" 2>/dev/null | grep -q '^Package:'; then
    install "$runtime"
  fi
fi
