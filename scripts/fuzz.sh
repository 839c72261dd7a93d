#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time (FUZZ_SECONDS each, default 60)
# from the seed corpus in tests/fuzz/corpus, after building them with the
# sanitizers (scripts/sanitize.sh --build-only). Inputs found along the way go
# to build-asan/fuzz/corpus, crashes to build-asan/fuzz/crashes/<target>/.
# Prints executions and time per target; fails when a target crashed. Keep
# each crash input as a regression case in tests/fuzz/regressions/<corpus>/.
# Usage: scripts/fuzz.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${SANITIZE_BUILD_DIR:-build-asan}
SECONDS_EACH=${FUZZ_SECONDS:-60}
declare -A CORPUS=([FuzzReplyDecoders]=reply_decoders [FuzzFormData]=form_data [FuzzUtf]=utf [FuzzChecker]=checker)
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(FuzzReplyDecoders FuzzFormData FuzzUtf FuzzChecker)

bash scripts/sanitize.sh --build-only >/dev/null
export QUILLET_LEXICON="$PWD/$BUILD_DIR/service/quillet-lexicon.txt"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
summary=()
for target in "${TARGETS[@]}"; do
    name=${CORPUS[$target]}
    work="$BUILD_DIR/fuzz/corpus/$name"
    crashes="$BUILD_DIR/fuzz/crashes/$target"
    mkdir -p "$work" "$crashes"
    log="$BUILD_DIR/fuzz/$target.log"
    status=ok
    started=$SECONDS
    # Texts for the checker stay within one check request's size.
    if ! "$BUILD_DIR/tests/fuzz/$target" -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" \
        "$work" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
        status="CRASH (see $log and $crashes)"
        failed=1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    took=$((SECONDS - started))
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
    summary+=("$(printf '%-18s %12s executions %5s s  coverage %6s  %s' "$target" "$runs" "$took" "$cov" "$status")")
done
printf '%s\n' "${summary[@]}"
exit $failed
