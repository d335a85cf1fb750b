#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, test and run Vantrel.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  libsqlite3-dev sqlite3 libsodium-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3
  emscripten binaryen node-acorn nodejs chromium fonts-liberation2 fonts-dejavu-core
  libcpp-httplib-dev libmicrohttpd-dev nlohmann-json3-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
