#!/usr/bin/env bash
# Sets up, builds and runs every test twice: a normal build and a build with
# AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero if either
# fails. Build folders: build/release and build/asan.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

status=0
run_config() {
  local name=$1; shift
  echo "=== ${name}: configure and build"
  if ! cmake -S . -B "build/${name}" -G Ninja -DQUORVEL_WERROR=${werror} "$@" >"build-${name}.log" 2>&1 \
     || ! cmake --build "build/${name}" -j "${jobs}" >>"build-${name}.log" 2>&1; then
    tail -n 60 "build-${name}.log"
    echo "=== ${name}: BUILD FAILED"
    status=1
    return
  fi
  echo "=== ${name}: tests"
  if ! ctest --test-dir "build/${name}" -j "${jobs}" --output-on-failure --timeout 300; then
    echo "=== ${name}: TESTS FAILED"
    status=1
  fi
}

mkdir -p build
run_config release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_config asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF

if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzz: bounded runs"
  bash scripts/fuzz.sh || status=1
fi

if [ "$status" -eq 0 ]; then echo "=== all test runs passed"; else echo "=== some test runs FAILED"; fi
exit "$status"
