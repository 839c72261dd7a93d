#!/usr/bin/env bash
# Quillet for Windows in one command: prepares Qt and OpenSSL for the target
# (scripts/prepare-windows.sh: about an hour the first time, then cached),
# cross-builds with mingw-w64 into build-windows/, runs the Windows tests under
# Wine on a virtual display, and makes the installer and zip
# (build-windows/package/). Extra arguments go to ctest, e.g.
#   scripts/windows.sh -R TestComBackend
# The end-to-end test uses the Linux checking service of build/ (built here
# when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-windows}
JOBS=${QUILLET_JOBS:-2}

qt=$(scripts/prepare-windows.sh)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DQUILLET_QT_PREFIX="$qt" \
    -DQUILLET_WERROR="${QUILLET_WERROR:-OFF}" >/dev/null
nice cmake --build "$BUILD_DIR" -j"$JOBS"

# The Linux service for the end-to-end test.
if [ ! -x build/service/quillet-service ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    nice cmake --build build -j"$JOBS" --target quillet-service quillet_lexicon
fi
export QUILLET_LINUX_SERVICE="$PWD/build/service/quillet-service"

# Wine's windows need an X display: a virtual one with a window manager.
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT
exec 5< <(Xvfb -displayfd 1 -screen 0 1600x1000x24 -nolisten tcp 2>/dev/null)
pids+=($!)
read -r -t 20 number <&5 || { echo "Xvfb did not start." >&2; exit 1; }
export DISPLAY=":$number"
openbox >/dev/null 2>&1 &
pids+=($!)

# Wine runs one test at a time: its server and prefix are shared.
ctest --test-dir "$BUILD_DIR" --output-on-failure -j1 "$@"
cmake --build "$BUILD_DIR" --target windows-package
ls -l "$BUILD_DIR"/package/*.zip "$BUILD_DIR"/package/*.exe 2>/dev/null || true
