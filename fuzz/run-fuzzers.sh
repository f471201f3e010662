#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them, JOBS (default 2) at a time.
#
#   fuzz/run-fuzzers.sh [seconds-per-target] [build-dir] [target...]
#
# Defaults: 30 seconds, build-fuzz (relative to the repository), every target. First every
# saved regression input (fuzz/regressions/<target>/*) runs once through its target, then
# the target fuzzes a scratch copy of its seed corpus, so the repository is never written
# to. Crashing inputs and logs go under <build-dir>/fuzz-findings/<target>/. The exit
# status is non-zero when any target found anything or any regression input failed.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_PER_TARGET=${1:-30}
BUILD_DIR=${2:-build-fuzz}
shift $(($# > 2 ? 2 : $#))
case "$BUILD_DIR" in
    /*) ;;
    *) BUILD_DIR="$ROOT/$BUILD_DIR" ;;
esac
JOBS=${JOBS:-2}

ALL_TARGETS=(casio_packer_unpack_fuzzer codec_primitives_fuzzer protocol_exchange_fuzzer
             storage_commands_fuzzer arg_reader_fuzzer file_protocol_packets_fuzzer
             screen_reader_fuzzer g1m_reader_fuzzer drive_screen_fuzzer)
if [ $# -gt 0 ]; then
    TARGETS=("$@")
else
    TARGETS=("${ALL_TARGETS[@]}")
fi

# Longest input worth trying: a little above what each target can use.
declare -A MAX_LEN=(
    [casio_packer_unpack_fuzzer]=4200     # capacity + a 4096-byte answer
    [codec_primitives_fuzzer]=4200        # operation, capacity + 4096 bytes
    [protocol_exchange_fuzzer]=8192       # many answers, some longer than 4096 bytes
    [storage_commands_fuzzer]=8192        # a calculator's turn of many packets
    [arg_reader_fuzzer]=1024              # a command line
    [file_protocol_packets_fuzzer]=4096   # three names of up to 600 bytes, or an image
    [screen_reader_fuzzer]=8192           # a few frames, TYP01 ones of 1032 bytes among them
    [g1m_reader_fuzzer]=8192              # a file of a few items, two pictures of 2048 bytes
    [drive_screen_fuzzer]=4096            # many answers, reads of a few hundred bytes among them
)
declare -A DICTIONARY=(
    [casio_packer_unpack_fuzzer]=packet.dict
    [codec_primitives_fuzzer]=codec_primitives.dict
    [protocol_exchange_fuzzer]=packet.dict
    [storage_commands_fuzzer]=packet.dict
    [arg_reader_fuzzer]=arg_reader.dict
    [file_protocol_packets_fuzzer]=packet.dict
    [screen_reader_fuzzer]=screen.dict
    [g1m_reader_fuzzer]=g1m.dict
    [drive_screen_fuzzer]=drive_screen.dict
)

echo "== Configuring and building the fuzz targets in $BUILD_DIR"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVANE_FUZZ=ON -DBUILD_TESTING=OFF -DTOLVANE_BUILD_BENCHMARKS=OFF \
    -DTOLVANE_BUILD_VIRTUAL_CALCULATOR=OFF >/dev/null || exit 1
cmake --build "$BUILD_DIR" -j "$JOBS" --target "${TARGETS[@]}" || exit 1

SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT

# Every saved regression input once through its target, one at a time: libFuzzer stops at
# the first input that fails. Prints "FAILED name" for each that fails.
run_regressions() {
    local target=$1 binary=$2 findings=$3 input log
    shopt -s nullglob
    local regressions=("$ROOT/fuzz/regressions/$target"/*)
    shopt -u nullglob
    [ ${#regressions[@]} -eq 0 ] && return
    echo "== $target: ${#regressions[@]} regression input(s)"
    for input in "${regressions[@]}"; do
        log="$findings/regression-$(basename "$input").log"
        if ! "$binary" "$input" >"$log" 2>&1; then
            echo "!! $target fails on $input; see $log"
            grep -E "runtime error|ERROR: |fuzz invariant" "$log" | head -n 2
            echo "FAILED $target ($(basename "$input"))"
        fi
    done
}

# One target: its regressions, then a scratch copy of its seed corpus fuzzed. Its report
# goes to a file of its own, so that targets run side by side do not interleave.
fuzz_target() {
    local target=$1 binary="$BUILD_DIR/fuzz/$1" findings="$BUILD_DIR/fuzz-findings/$1"
    mkdir -p "$findings"
    run_regressions "$target" "$binary" "$findings"
    local corpus="$SCRATCH/$target" log="$findings/fuzz.log" status executions
    mkdir -p "$corpus"
    cp "$ROOT/fuzz/corpus/$target"/* "$corpus"/ 2>/dev/null || true
    echo "== $target: fuzzing for $SECONDS_PER_TARGET s"
    "$binary" -max_total_time="$SECONDS_PER_TARGET" -max_len="${MAX_LEN[$target]}" \
        -dict="$ROOT/fuzz/dictionaries/${DICTIONARY[$target]}" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1
    status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ $status -ne 0 ]; then
        echo "!! $target found something; see $log"
        grep -E "runtime error|ERROR: |fuzz invariant|Test unit written" "$log" | head -n 6
        echo "FAILED $target"
    fi
    printf 'SUMMARY %-32s %12s executions  %s\n' "$target" "${executions:-?}" \
        "$([ $status -eq 0 ] && echo ok || echo "FINDING (exit $status)")"
}

# Each target is a single process: as many run at once as there are jobs.
for target in "${TARGETS[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do
        wait -n
    done
    fuzz_target "$target" >"$SCRATCH/$target.report" &
done
wait

failures=()
summary=()
for target in "${TARGETS[@]}"; do
    grep -v '^FAILED \|^SUMMARY ' "$SCRATCH/$target.report"
    while IFS= read -r line; do
        case "$line" in
            "FAILED "*) failures+=("${line#FAILED }") ;;
            "SUMMARY "*) summary+=("${line#SUMMARY }") ;;
        esac
    done <"$SCRATCH/$target.report"
done

echo
echo "== Executions per target ($SECONDS_PER_TARGET s each)"
printf '%s\n' "${summary[@]}"
if [ ${#failures[@]} -gt 0 ]; then
    echo "== Failed: ${failures[*]}"
    exit 1
fi
echo "== No findings"
