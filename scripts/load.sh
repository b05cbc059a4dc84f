#!/usr/bin/env bash
# Measures the server against the table of performance targets with
# quorvel-load: builds the release tree, then runs every target RUNS times
# (default 3), each run against a fresh copy of quorveld started by
# quorvel-load in a temporary folder, and prints the median of every measure.
# Reports (HTML, one per run) and the raw output go to load-reports/.
#   bash scripts/load.sh              # every target
#   bash scripts/load.sh relay2 chat  # only the named targets
# QUORVELD=path measures another build of the server.
# Not part of the test command: it takes several minutes and its figures
# depend on the machine.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j 2 --target quorveld quorvel-load >/dev/null || exit 1
load="$build/tools/load/quorvel-load"
server=${QUORVELD:-$build/server/shell/terminal/quorveld}
out=load-reports
mkdir -p "$out"

# name | targets (measure<=value or measure>=value, on the medians) | arguments
targets=(
  "relay2|msgs_per_s>=250000|relay --pairs 1 --seconds 5"
  "relay200|msgs_per_s>=200000|relay --pairs 200 --seconds 5 --no-baseline"
  "relay200@5k||relay --pairs 200 --rate 5000 --seconds 5 --no-baseline"
  "relay200@50k|p99_ms<=2|relay --pairs 200 --rate 50000 --seconds 5 --no-baseline"
  "chat|p99_ms<=1100 p50_ms<=600|chat --users 1000 --rate 5000 --seconds 10"
  "offline|all_after_login_s<=1.5|offline --messages 100000"
  "connections||connections --users 10000 --seconds 5 --login password"
  "idle60k|worker_ms_per_cycle<20|connections --users 1500 --registered 60000 --seconds 5 --login password"
  "logins|logins_per_s>=10000|logins --users 5000 --login password --friends 10"
)

wanted=("$@")
selected() {
  [ ${#wanted[@]} -eq 0 ] && return 0
  local w
  for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
  return 1
}

results="$out/results.txt"
goals="$out/targets.txt"
: >"$results"
: >"$goals"
for entry in "${targets[@]}"; do
  IFS='|' read -r name goal args <<<"$entry"
  selected "$name" || continue
  for g in $goal; do echo "$name $g" >>"$goals"; done
  for run in $(seq 1 "$runs"); do
    echo "=== $name run $run: quorvel-load $args"
    # shellcheck disable=SC2086
    "$load" $args --server "$server" --report "$out/$name-$run.html" >"$out/$name-$run.txt" 2>&1
    grep -E '^(open files|RESULT|note|exactly)' "$out/$name-$run.txt"
    grep '^RESULT' "$out/$name-$run.txt" | sed "s/^RESULT /$name /" >>"$results"
  done
done

echo
echo "=== medians of $runs runs (load while measuring: $(uptime | sed 's/.*load average: //'))"
awk '
  FNR == NR { split($2, g, /[<>]=?/); op = substr($2, length(g[1]) + 1, length($2) - length(g[1]) - length(g[2]));
              goal[$1, g[1]] = op; limit[$1, g[1]] = g[2]; next }
  { name = $1; for (i = 3; i <= NF; i++) { split($i, kv, "="); key = name SUBSEP kv[1];
      if (!(key in n)) { order[++keys] = key }; vals[key, ++n[key]] = kv[2] } }
  END {
    for (k = 1; k <= keys; k++) {
      key = order[k]; split(key, p, SUBSEP); c = n[key];
      for (i = 1; i <= c; i++) v[i] = vals[key, i];
      if (v[1] ~ /^[0-9.]+$/) {
        for (i = 1; i <= c; i++) for (j = i + 1; j <= c; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
        med = (c % 2) ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2
      } else { med = v[1]; for (i = 2; i <= c; i++) if (v[i] != v[1]) med = med "," v[i] }
      verdict = ""
      if (key in goal) {
        op = goal[key]; lim = limit[key] + 0; m = med + 0
        ok = (op == "<=" && m <= lim) || (op == "<" && m < lim) || (op == ">=" && m >= lim) || (op == ">" && m > lim)
        verdict = sprintf("target %s%s: %s", op, limit[key], ok ? "met" : "MISSED")
      }
      printf "%-14s %-22s %-12s %s\n", p[1], p[2], med, verdict
    }
  }' "$goals" "$results"
