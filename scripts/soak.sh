#!/usr/bin/env bash
# Runs the office and program tests (label libreoffice) again and again while
# other processes keep the cores busy, and prints how often each test failed.
# The log of every round with a failure is kept, with any crash report a test
# left in its logs.
#   scripts/soak.sh [ROUNDS]     (default 30; SOAK_LOAD burner processes, default 2)
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
rounds=${1:-30}
load=${SOAK_LOAD:-2}
logs=${SOAK_LOGS:-$(mktemp -d /tmp/quillet-soak.XXXXXX)}
mkdir -p "$logs"

cmake --build "$BUILD_DIR" >/dev/null || { echo "the build failed" >&2; exit 1; }

burners=()
for _ in $(seq 1 "$load"); do
    (while :; do :; done) &
    burners+=($!)
done
trap 'kill "${burners[@]}" 2>/dev/null' EXIT

declare -A failures=()
failed_rounds=0
start=$(date +%s)
for round in $(seq 1 "$rounds"); do
    log="$logs/round-$round.log"
    if ctest --test-dir "$BUILD_DIR" -j2 -L libreoffice --output-on-failure >"$log" 2>&1; then
        rm -f "$log"
        echo "round $round: all passed"
        continue
    fi
    failed_rounds=$((failed_rounds + 1))
    names=$(sed -n 's/^[[:space:]]*[0-9]* - \([A-Za-z0-9_]*\) (.*/\1/p' "$log")
    for name in $names; do
        failures[$name]=$((${failures[$name]:-0} + 1))
    done
    echo "round $round: failed: $names (log: $log)"
done

echo "soak: $rounds rounds in $(($(date +%s) - start)) s under $load burner(s), $failed_rounds with a failure"
for name in "${!failures[@]}"; do
    echo "  $name failed ${failures[$name]} time(s)"
done
[ "$failed_rounds" -eq 0 ]
