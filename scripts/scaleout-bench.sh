#!/usr/bin/env bash
# Benchmark of the scale-out set-up: checks per second and p99 for one
# quillet-service instance on PostgreSQL, one behind HAProxy and three behind
# HAProxy (service/deploy/haproxy.cfg), and the database's share of a check.
# BENCH_SECONDS (default 15) per set-up, BENCH_CLIENTS (default 16) clients.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target quillet-service quillet-loadtest >/dev/null
"$BUILD_DIR/service/loadtest/quillet-loadtest" "$BUILD_DIR/service/quillet-service" \
    --seconds "${BENCH_SECONDS:-15}" --clients "${BENCH_CLIENTS:-16}" --bench service/deploy/haproxy.cfg
