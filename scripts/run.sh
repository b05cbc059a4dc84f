#!/usr/bin/env bash
# Sets up, builds and runs the terminal server in run/, with the sample
# directory file copied next to the program when none is there yet; builds
# the command-line client too, for trying the server out, and the window
# (run/quorvel) when a display is there to show it.
set -euo pipefail
cd "$(dirname "$0")/.."

# The process running run/quorveld or run/quorvel, if any: a server from an
# earlier run still holds the port and its program file.
running_server() {
  local proc exe
  for proc in /proc/[0-9]*; do
    exe=$(readlink "$proc/exe" 2>/dev/null) || continue
    if [ "$exe" = "$PWD/run/quorveld" ] || [ "$exe" = "$PWD/run/quorvel" ]; then
      echo "${proc#/proc/} ${exe##*/}"
      return 0
    fi
  done
  return 1
}

if server=$(running_server); then
  echo "run.sh: a server from an earlier run is already running: run/${server#* } (PID ${server%% *})." >&2
  echo "run.sh: end it first (Ctrl+C or the exit command in its terminal, or kill ${server%% *}), then run this again." >&2
  exit 1
fi

window=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  window=1
fi

bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(quorveld quorvel-client)
if [ "$window" = 1 ]; then
  targets+=(quorvel)
fi
cmake --build build/release --target "${targets[@]}" -j "$(nproc)"
mkdir -p run/config
cp build/release/server/shell/terminal/quorveld run/quorveld
if [ ! -f run/config/server.xml ] && [ -f examples/server.xml ]; then
  cp examples/server.xml run/config/server.xml
fi
if [ "$window" = 1 ]; then
  cp build/release/server/shell/qt/quorvel run/quorvel
  echo "run.sh: the window is built too: end this server, then start ./run/quorvel for the same server in its window."
else
  echo "run.sh: no display, so the window is not built. On a desktop: cmake --build build/release --target quorvel," \
       "copy build/release/server/shell/qt/quorvel into run/ and start ./run/quorvel there (with this server ended)."
fi
exec ./run/quorveld
