#!/usr/bin/env bash
# Sets up, builds and runs the tests: every test in a normal build and in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer, and the tests
# that use threads (log, transport, server) in a ThreadSanitizer build; then
# the bounded fuzz runs. Exits non-zero if any fails. Build folders:
# build/release, build/asan and build/tsan. The soak (ctest label "soak")
# runs 120 s at full speed in the release build and 30 s, twenty times
# slower, under the sanitizers' slower code.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

status=0
# run_config NAME CMAKE-ARGS...: configures, builds and tests build/NAME.
# Optional: BUILD_TARGETS (space-separated; all when empty) and CTEST_ARGS.
run_config() {
  local name=$1; shift
  local targets=()
  if [ -n "${BUILD_TARGETS:-}" ]; then targets=(--target ${BUILD_TARGETS}); fi
  echo "=== ${name}: configure and build"
  if ! cmake -S . -B "build/${name}" -G Ninja -DQUORVEL_WERROR=${werror} "$@" >"build-${name}.log" 2>&1 \
     || ! cmake --build "build/${name}" -j "${jobs}" "${targets[@]}" >>"build-${name}.log" 2>&1; then
    tail -n 60 "build-${name}.log"
    echo "=== ${name}: BUILD FAILED"
    status=1
    return
  fi
  echo "=== ${name}: tests"
  if ! ctest --test-dir "build/${name}" -j "${jobs}" --output-on-failure --timeout 300 ${CTEST_ARGS:-}; then
    echo "=== ${name}: TESTS FAILED"
    status=1
  fi
}

mkdir -p build
run_config release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_config asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF \
    -DQUORVEL_SOAK_SECONDS=30
# Only the test programs whose code runs on several threads; the tests of
# programs not built here are left out by name.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
BUILD_TARGETS="scrivlet_tests corvane_tests server_tests" CTEST_ARGS="-E _NOT_BUILT -LE soak" \
  run_config tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TSAN=ON -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF

if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzz: bounded runs"
  bash scripts/fuzz.sh || status=1
fi

if [ "$status" -eq 0 ]; then echo "=== all test runs passed"; else echo "=== some test runs FAILED"; fi
exit "$status"
