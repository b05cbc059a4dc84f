#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/fuzz_*.cpp) with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer in build/fuzz, and runs each for a bounded
# time: FUZZ_SECONDS seconds (default 60 under CI=true, 10 otherwise).
# Seeds come from fuzz/corpus/<target>/ (read only); what the run finds goes
# to build/fuzz/corpus/<target>/, crash inputs to build/fuzz/artifacts/.
# Exits non-zero when the build fails or any target finds a fault.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-}
if [ -z "$seconds" ]; then
  if [ "${CI:-}" = "true" ]; then seconds=60; else seconds=10; fi
fi
jobs=$(nproc 2>/dev/null || echo 2)
if [ "$jobs" -gt 2 ]; then jobs=2; fi

mkdir -p build
log=build-fuzz.log
echo "=== fuzz: configure and build (log in ${log})"
if ! CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
       -DQUORVEL_SANITIZE=ON -DQUORVEL_GUI=OFF -DQUORVEL_BENCH=OFF >"${log}" 2>&1 \
   || ! cmake --build build/fuzz --target fuzz_all -j "${jobs}" >>"${log}" 2>&1; then
  tail -n 60 "${log}"
  echo "=== fuzz: BUILD FAILED"
  exit 1
fi

status=0
shopt -s nullglob
for bin in build/fuzz/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  work=build/fuzz/corpus/${name}
  artifacts=build/fuzz/artifacts
  mkdir -p "$work" "$artifacts"
  args=(-max_total_time="${seconds}" -timeout=10 -rss_limit_mb=2048 -max_len=65536
        -print_final_stats=1 -artifact_prefix="${artifacts}/${name}-")
  if [ -f "fuzz/${name}.dict" ]; then args+=(-dict="fuzz/${name}.dict"); fi
  seeds=()
  if [ -d "fuzz/corpus/${name}" ]; then seeds+=("fuzz/corpus/${name}"); fi
  echo "=== fuzz: ${name} for ${seconds} s"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
       "$bin" "${args[@]}" "$work" "${seeds[@]}" >"build/fuzz/${name}.log" 2>&1; then
    grep -E "^stat::number_of_executed_units|^Done" "build/fuzz/${name}.log" | tail -n 2
  else
    tail -n 40 "build/fuzz/${name}.log"
    echo "=== fuzz: ${name} FOUND A FAULT (inputs in ${artifacts})"
    status=1
  fi
done
exit "$status"
