#!/usr/bin/env bash
# The scale-out test: a PostgreSQL server (started in a temporary folder),
# three quillet-service instances sharing it and HAProxy in front with
# service/deploy/haproxy.cfg; the load and fault test runs against the
# balancer for LOAD_SECONDS (default 20; CI runs 10) and one instance is
# killed halfway. Needs Debian's postgresql and haproxy (scripts/setup-debian.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target quillet-service quillet-loadtest >/dev/null
"$BUILD_DIR/service/loadtest/quillet-loadtest" "$BUILD_DIR/service/quillet-service" \
    --seconds "${LOAD_SECONDS:-20}" --clients "${LOAD_CLIENTS:-64}" --scale-out service/deploy/haproxy.cfg
