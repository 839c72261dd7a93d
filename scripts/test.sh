#!/usr/bin/env bash
# Configures, builds and runs every test (ctest). Extra arguments go to ctest,
# e.g. scripts/test.sh -L unit   or   scripts/test.sh -R TestRevisor
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR="${QUILLET_WERROR:-OFF}" >/dev/null
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" "$@"
