#!/usr/bin/env bash
# The screen of a drive calculator, read through its SCSI generic node by the library's source
# and frame reader (e2e_drive_tool screen), against the virtual calculator's drive in its
# screen mode.
#
#   benchmarks/drive-screen-benchmark.sh BUILD-DIR [IDLE-SECONDS] [STREAM-SECONDS]
#
# Defaults: 10 and 60. Idle: a drive that offers nothing, read for IDLE-SECONDS: the CPU the
# poll loop takes and its polls a second. Streaming: a 384 x 216 1RC2 frame every 100 ms, read
# for a tenth of STREAM-SECONDS and then for all of it: pictures read against frames sent and
# lost, the CPU, and the peak memory of each run, which stays the same when nothing grows.
set -euo pipefail

build=$(realpath "${1:?usage: $0 BUILD-DIR [IDLE-SECONDS] [STREAM-SECONDS]}")
idle=${2:-10}
stream=${3:-60}
calculator=$build/tools/VirtualCalculator/VirtualCalculator
tool=$build/tests/e2e/e2e_drive_tool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run SECONDS PICTURES OPTIONS...: the tool's last line, its "seconds cpu kilobytes", and the
# calculator's report, in $work.
run() {
    local seconds=$1 wanted=$2
    shift 2
    "$calculator" --drive "$@" --report "$work/report" -- /usr/bin/time -o "$work/time" \
        -f '%e %U %S %M' "$tool" screen 1-4.1 "$wanted" "$seconds" >"$work/out" || true
    # The line before, if any, says that the tool exited with a status other than 0.
    read -r elapsed user system kilobytes < <(tail -n 1 "$work/time")
    cpu=$(awk -v u="$user" -v s="$system" -v e="$elapsed" 'BEGIN { printf "%.2f", 100 * (u + s) / e }')
    pictures=$(grep -c '^picture' "$work/out" || true)
    polls=$(sed -n 's/.* polls \([0-9]*\) .*/\1/p' "$work/out")
    sent=$(sed -n 's/.*: sent \([0-9]*\) frames.*/\1/p' "$work/report")
    lost=$(sed -n 's/.*before: \([0-9]*\)$/\1/p' "$work/report")
}

run "$idle" 1 --projector TYPZ1 --frames 0
printf 'idle, %s s: %s %% of a core, %s polls a second\n' "$elapsed" "$cpu" \
    "$(awk -v p="$polls" -v e="$elapsed" 'BEGIN { printf "%.1f", p / e }')"
for seconds in $((stream / 10)) "$stream"; do
    run "$seconds" 1000000 --projector TYPZ1:1RC2 --frame-rate 10
    printf 'stream, %s s: %s pictures of %s frames sent, %s lost; %s %% of a core; %s KiB at most\n' \
        "$elapsed" "$pictures" "$sent" "$lost" "$cpu" "$kilobytes"
done
