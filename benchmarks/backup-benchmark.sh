#!/usr/bin/env bash
# A whole calculator saved and put back, under a model of a real calculator's time to answer (30
# ms for a part the host waited for, 3 ms for one sent ahead; -m IDLE/BUSY sets others):
# `tolvane backup` against `tolvane list` then `tolvane get` of the same files, and
# `tolvane restore --all` of that backup onto a class set against onto one calculator.
#
#   benchmarks/backup-benchmark.sh [-m IDLE/BUSY] BUILD-DIR [FILES] [KIB] [CALCULATORS] [RUNS]
#
# Defaults: 40 files of random bytes, 2048 KiB in all (half of them in a folder), 8
# calculators, 1 run (a run takes about ten minutes under the default model). Prints the median
# seconds of each and the two ratios; fails when a backup or a restored calculator is not byte for
# byte what the calculator held.
set -euo pipefail
shopt -s inherit_errexit

model=30/3
if [ "${1:-}" = -m ]; then
    model=$2
    shift 2
fi
build=$(realpath "${1:?usage: $0 [-m IDLE/BUSY] BUILD-DIR [FILES] [KIB] [CALCULATORS] [RUNS]}")
files=${2:-40}
kib=${3:-2048}
calculators=${4:-8}
runs=${5:-1}
calculator=$build/tools/VirtualCalculator/VirtualCalculator
tolvane=$build/TolvaneCli/tolvane

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/held/fls0/WORK"
names=()
for ((k = 1; k <= files; k++)); do
    name=$(printf 'F%02d.BIN' "$k")
    ((k % 2 == 0)) && name=WORK/$name
    size=$((kib * 1024 / files + (k == files ? kib * 1024 % files : 0)))
    head -c "$size" /dev/urandom >"$work/held/fls0/$name"
    names+=("$name")
done

# on COUNT COMMAND...: COMMAND under COUNT virtual calculators (storage in $work/calcs, the
# first holding the files) answering as the model says.
on() {
    local count=$1
    shift
    "$calculator" --calculators "$count" --storage "$work/calcs" \
        --idle-turnaround "${model%/*}" --busy-turnaround "${model#*/}" -- "$@" 2>/dev/null
}

# seconds COMMAND...: the wall time of COMMAND.
seconds() {
    local start
    start=$(date +%s.%N)
    "$@"
    awk -v start="$start" -v end="$(date +%s.%N)" 'BEGIN { print end - start }'
}

same() {
    diff -r "$1" "$2" >/dev/null || { echo "FAILED: $2 is not what the calculator held" >&2; exit 1; }
}

list_and_get() {
    rm -rf "$work/calcs" "$work/got" && mkdir -p "$work/calcs" "$work/got"
    cp -r "$work/held" "$work/calcs/1-4.1"
    on 1 sh -c '"$0" -q list > /dev/null && cd "$1" && shift && "$0" -q get "$@"' \
        "$tolvane" "$work/got" "${names[@]}"
    [ "$(ls "$work/got" | wc -l)" -eq "$files" ] || { echo "FAILED: get" >&2; exit 1; }
}

backup() {
    rm -rf "$work/calcs" "$work/backup" && mkdir -p "$work/calcs"
    cp -r "$work/held" "$work/calcs/1-4.1"
    on 1 "$tolvane" -q backup -o "$work/backup" >/dev/null
    same "$work/held/fls0" "$work/backup/fls0"
}

# restore COUNT: the backup onto COUNT empty calculators at once (the virtual calculator makes
# their storage, behind as many hubs as it takes).
restore() {
    rm -rf "$work/calcs"
    on "$1" "$tolvane" -q restore --all "$work/backup"
    [ "$(ls "$work/calcs" | wc -l)" -eq "$1" ] || { echo "FAILED: calculators missing" >&2; exit 1; }
    for restored in "$work"/calcs/*/fls0; do same "$work/held/fls0" "$restored"; done
}

# median STEP [ARGUMENT]: the median wall time of RUNS runs of STEP.
median() {
    local times=() run time
    for ((run = 0; run < runs; run++)); do
        time=$(seconds "$@")
        times+=("$time")
    done
    printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

separate=$(median list_and_get)
whole=$(median backup)
one=$(median restore 1)
all=$(median restore "$calculators")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
printf '%d files, %d KiB, model %s ms, median of %d runs\n' "$files" "$kib" "$model" "$runs"
printf 'list + get              %8.2f s\n' "$separate"
printf 'backup                  %8.2f s\n' "$whole"
printf 'restore --all, 1        %8.2f s\n' "$one"
printf 'restore --all, %-3d      %8.2f s\n' "$calculators" "$all"
printf 'backup / (list + get)   %8s\n' "$(ratio "$whole" "$separate")"
printf 'restore %d / restore 1  %8s\n' "$calculators" "$(ratio "$all" "$one")"
