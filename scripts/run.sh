#!/usr/bin/env bash
# Sets up, builds and runs the terminal server in run/, with the sample
# directory file copied next to the program when none is there yet; builds
# the command-line client too, for trying the server out.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target quorveld quorvel-client -j "$(nproc)"
mkdir -p run/config
cp build/release/server/quorveld run/quorveld
if [ ! -f run/config/server.xml ] && [ -f examples/server.xml ]; then
  cp examples/server.xml run/config/server.xml
fi
exec ./run/quorveld
