#!/usr/bin/env bash
# Installs the build and test dependencies with apt-get when any is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config openssl libssl-dev libsqlite3-dev sqlite3
          libpugixml-dev libcjson-dev libgtest-dev libgmock-dev libbenchmark-dev)
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
