#!/usr/bin/env bash
# Builds and runs the service's load and fault test (LOAD_SECONDS, default 20;
# CI runs it for 15 s) against the service of the normal build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target quillet-service quillet-loadtest >/dev/null
"$BUILD_DIR/service/loadtest/quillet-loadtest" "$BUILD_DIR/service/quillet-service" \
    --seconds "${LOAD_SECONDS:-20}" --clients "${LOAD_CLIENTS:-64}"
