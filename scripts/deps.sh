#!/usr/bin/env bash
# Installs the Debian packages a fresh machine lacks for building and testing.
set -euo pipefail
packages=(cmake make g++ g++-multilib pkg-config googletest libgtest-dev libbenchmark-dev
          nlohmann-json3-dev libcli11-dev clang libclang-rt-14-dev valgrind dpkg-dev file qemu-user
          libprotobuf-dev protobuf-compiler python3 python3-pytest lintian time libsimdjson-dev
          libsimdjson14:i386 zlib1g-dev zlib1g:i386 python3-dask python3-distributed chromium parallel)
# The i386 build links the i386 simdjson and zlib libraries (the headers are the same).
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
