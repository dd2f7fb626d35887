#!/usr/bin/env bash
# Builds Vantrel (RelWithDebInfo) and runs every benchmark, then prints all
# their figures as one Markdown table. The full output of each benchmark is
# kept in <build>/bench-logs/. Extra arguments go to bench_soak, e.g.
#   scripts/bench.sh build --alerts 2000
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true
"$top/scripts/setup-machine.sh"
"$top/scripts/build.sh" "$build" >/dev/null
logs=$build/bench-logs
mkdir -p "$logs"
export QT_QPA_PLATFORM=offscreen

outputs=()
run() {
    local name=$1
    shift
    local log=$logs/$name${1:+-${1#--}}.txt
    echo "== $name $*" >&2
    "$build/bin/$name" "$@" 2>/dev/null | tee "$log" >&2
    outputs+=("$log")
}

run bench_pickup
run bench_throughput
run bench_throughput --reports --no-parts
# Through a real Kannel: four traders, as the SMS of one number go one
# after another and wait for each of Kannel's answers.
run bench_throughput --gateway --users 4 --alerts 250
run bench_cpu
run bench_outage
run bench_flood
run bench_memory
run bench_memory --relay-only
run bench_pagelog
run bench_alerts
run bench_outbox
run bench_modems
run bench_soak "$@"

echo
echo "| benchmark | figure | value | target | verdict |"
echo "|---|---|---|---|---|"
cat "${outputs[@]}" | awk -F'\t' '$1 == "RESULT" { printf "| %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6 }'
echo
grep -m1 '^machine:' "${outputs[0]}"
