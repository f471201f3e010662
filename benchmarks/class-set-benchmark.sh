#!/usr/bin/env bash
# `tolvane send --all` of one file to a class set of virtual calculators, against the same send
# to one, under a model of a real calculator's time to answer (30 ms for a part the host waited
# for, 3 ms for one sent ahead; -m IDLE/BUSY sets others).
#
#   benchmarks/class-set-benchmark.sh [-m IDLE/BUSY] BUILD-DIR [CALCULATORS] [KIB] [RUNS]
#
# Defaults: 8 calculators, 64 KiB, 3 runs. Prints the median seconds of each and their ratio;
# fails when any calculator did not store the file whole.
set -euo pipefail

model=30/3
if [ "${1:-}" = -m ]; then
    model=$2
    shift 2
fi
build=$(realpath "${1:?usage: $0 [-m IDLE/BUSY] BUILD-DIR [CALCULATORS] [KIB] [RUNS]}")
calculators=${2:-8}
kib=${3:-64}
runs=${4:-3}
calculator=$build/tools/VirtualCalculator/VirtualCalculator
tolvane=$build/TolvaneCli/tolvane

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((kib * 1024)) /dev/urandom >"$work/F.BIN"

# median_seconds COUNT: the median wall time of RUNS sends to COUNT calculators.
median_seconds() {
    local count=$1 times=() run start
    for ((run = 0; run < runs; run++)); do
        rm -rf "$work/storage"
        start=$(date +%s.%N)
        "$calculator" --calculators "$count" --storage "$work/storage" \
            --idle-turnaround "${model%/*}" --busy-turnaround "${model#*/}" \
            -- "$tolvane" -q send --all "$work/F.BIN" 2>/dev/null
        times+=("$(awk -v start="$start" -v end="$(date +%s.%N)" 'BEGIN { print end - start }')")
        for stored in "$work"/storage/*/fls0/F.BIN; do
            cmp -s "$stored" "$work/F.BIN" || { echo "FAILED: $stored differs" >&2; exit 1; }
        done
        [ "$(ls "$work"/storage | wc -l)" -eq "$count" ] || { echo "FAILED: files missing" >&2; exit 1; }
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

one=$(median_seconds 1)
all=$(median_seconds "$calculators")
printf 'send --all of %d KiB, model %s ms, median of %d runs\n' "$kib" "$model" "$runs"
printf '%3d calculator   %6.2f s\n' 1 "$one"
printf '%3d calculators  %6.2f s\n' "$calculators" "$all"
printf 'ratio            %6.2f\n' "$(awk -v all="$all" -v one="$one" 'BEGIN { print all / one }')"
