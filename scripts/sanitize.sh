#!/usr/bin/env bash
# Builds the client's and the service's unit and integration tests, the service
# and the fuzz targets with clang's AddressSanitizer and UndefinedBehaviorSanitizer
# in a second build folder (build-asan), and runs those tests there. Extra
# arguments go to ctest; --build-only builds and stops. The GUI-only tests are
# left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${SANITIZE_BUILD_DIR:-build-asan}

# The test programs that exercise parsing, the network client and the service.
# Leaks are looked for in the service's and the decoders' tests; in the Qt
# widget tests, Qt's platform plugin keeps objects until exit that LeakSanitizer
# would report, so there only memory errors and undefined behaviour count.
CLIENT_TESTS=(TestRevisorRequests TestCheckRun TestSession TestServiceIntegration)
LEAK_CHECKED_TESTS=(TestJsonDecode TestTextUtil TestFormData TestChecker TestStore TestServiceHttp TestServiceLimits)
FUZZERS=(FuzzReplyDecoders FuzzFormData FuzzUtf FuzzChecker)

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 ${QUILLET_WERROR:+-DQUILLET_WERROR=$QUILLET_WERROR} -DQUILLET_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
    >/dev/null
# The build runs tools of its own (icons, lexicon) built the same way.
ASAN_OPTIONS=detect_leaks=0 cmake --build "$BUILD_DIR" --target "${CLIENT_TESTS[@]}" "${LEAK_CHECKED_TESTS[@]}" \
    "${FUZZERS[@]}" quillet-service
if [ "${1:-}" = "--build-only" ]; then
    exit 0
fi

export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
names() { local IFS='|'; echo "^($*)\$"; }
status=0
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" \
    -R "$(names "${CLIENT_TESTS[@]}")" "$@" || status=1
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" \
    -R "$(names "${LEAK_CHECKED_TESTS[@]}" "Fuzz.*Corpus")" "$@" || status=1
exit $status
