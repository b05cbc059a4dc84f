#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the
# benchmarks need. Idempotent: it asks apt only when something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libasio-dev libtinyxml2-dev nlohmann-json3-dev libcpp-httplib-dev
  qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth fonts-noto-cjk
  procps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
