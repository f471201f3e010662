#!/usr/bin/env bash
# Main memory's items against the same bytes as files, on the virtual calculator under a model
# of a real calculator's time to answer (30 ms for a part the host waited for, 3 ms for one
# sent ahead; -m IDLE/BUSY sets others): `get -d main --whole` of ITEMS programs of 1 to 8 KiB
# against `get` of as many files of the same sizes, and `send -d main` of the .g1m file against
# `send` of the files, each in one session; and the peak memory of tolvane sending a .g1m of
# ITEMS items and of a tenth as many, which must stay flat.
#
#   benchmarks/main-memory-benchmark.sh [-m IDLE/BUSY] BUILD-DIR [ITEMS] [RUNS]
#
# Defaults: 200 items, 3 runs. Prints the median seconds of each and their ratios; fails when
# an item or a file did not arrive whole.
set -euo pipefail

model=30/3
if [ "${1:-}" = -m ]; then
    model=$2
    shift 2
fi
build=$(realpath "${1:?usage: $0 [-m IDLE/BUSY] BUILD-DIR [ITEMS] [RUNS]}")
items=${2:-200}
runs=${3:-3}
calculator=$build/tools/VirtualCalculator/VirtualCalculator
tolvane=$build/TolvaneCli/tolvane

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Programs of 1 to 8 KiB in whole words, as the virtual calculator keeps them, and the same
# bytes as files.
make_items() {
    local count=$1 folder=$2 k size
    mkdir -p "$folder/memory/PROGRAM/system" "$folder/storage/fls0"
    for ((k = 0; k < count; k++)); do
        size=$(((1024 + (k * 7919) % 7169) / 4 * 4))
        head -c "$size" /dev/urandom >"$folder/memory/PROGRAM/system/P$k.01"
        cp "$folder/memory/PROGRAM/system/P$k.01" "$folder/storage/fls0/P$k"
    done
}

# on_calculator FOLDER COMMAND...: COMMAND in FOLDER, on a calculator whose main memory and
# storage are there.
on_calculator() {
    local folder=$1
    shift
    (cd "$folder" && "$calculator" --storage storage --main-memory memory \
        --main-memory-capacity 100000000 --idle-turnaround "${model%/*}" \
        --busy-turnaround "${model#*/}" -- "$@" 2>/dev/null)
}

# seconds COMMAND...: the wall time of COMMAND.
seconds() {
    local start
    start=$(date +%s.%N)
    "$@"
    awk -v start="$start" -v end="$(date +%s.%N)" 'BEGIN { print end - start }'
}

median() {
    grep . | sort -n | sed -n "$(((runs + 1) / 2))p"
}

make_items "$items" "$work/full"
names=()
for ((k = 0; k < items; k++)); do names+=("P$k"); done

declare -A times
for ((run = 0; run < runs; run++)); do
    rm -rf "$work/out" && mkdir -p "$work/out"
    times[getItems]+="$(seconds on_calculator "$work/full" "$tolvane" -q get -d main --whole \
        -o "$work/out/all.g1m")"$'\n'
    times[getFiles]+="$(seconds on_calculator "$work/full" "$tolvane" -q get -o "$work/out" \
        "${names[@]}")"$'\n'
    rm -rf "$work/empty" && mkdir -p "$work/empty/memory" "$work/empty/storage/fls0"
    times[sendItems]+="$(seconds on_calculator "$work/empty" "$tolvane" -q send -d main \
        "$work/out/all.g1m")"$'\n'
    times[sendFiles]+="$(seconds on_calculator "$work/empty" "$tolvane" -q send \
        "${names[@]/#/$work/out/}")"$'\n'
    for ((k = 0; k < items; k++)); do
        cmp -s "$work/full/memory/PROGRAM/system/P$k.01" "$work/empty/memory/PROGRAM/system/P$k.01" &&
            cmp -s "$work/full/storage/fls0/P$k" "$work/empty/storage/fls0/P$k" ||
            { echo "FAILED: P$k did not arrive whole" >&2; exit 1; }
    done
done

# peak_kib FOLDER: tolvane's peak memory sending FOLDER's main memory, fetched first.
peak_kib() {
    local folder=$1
    on_calculator "$folder" "$tolvane" -q get -d main --whole -o "$folder/all.g1m"
    rm -rf "$folder/memory" && mkdir "$folder/memory"
    on_calculator "$folder" /usr/bin/time -o "$folder/peak" -f %M "$tolvane" -q send -d main \
        "$folder/all.g1m"
    cat "$folder/peak"
}

make_items $((items / 10)) "$work/tenth"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
getItems=$(median <<<"${times[getItems]}")
getFiles=$(median <<<"${times[getFiles]}")
sendItems=$(median <<<"${times[sendItems]}")
sendFiles=$(median <<<"${times[sendFiles]}")
printf '%d programs of 1 to 8 KiB, model %s ms, median of %d runs\n' "$items" "$model" "$runs"
printf 'get -d main --whole  %6.2f s   get of the files  %6.2f s   ratio %s\n' \
    "$getItems" "$getFiles" "$(ratio "$getItems" "$getFiles")"
printf 'send -d main         %6.2f s   send of the files %6.2f s   ratio %s\n' \
    "$sendItems" "$sendFiles" "$(ratio "$sendItems" "$sendFiles")"
if [ -x /usr/bin/time ]; then
    printf 'peak memory of send -d main: %s KiB for %d items, %s KiB for %d\n' \
        "$(peak_kib "$work/full")" "$items" "$(peak_kib "$work/tenth")" $((items / 10))
fi
