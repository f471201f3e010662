#!/usr/bin/env bash
# End-to-end upload benchmark: upload programs, the very binaries a user runs, send a file of
# random bytes to the virtual calculator over the real libusb-1.0, each one twice: on the
# bare emulated bus, where the calculator answers at once, and under a model of a real
# calculator's time to answer a data part (30 ms when the host waits for each answer, 3 ms
# for a part sent before the answer to the one before was read). Reports seconds, parts per
# second, USB transfers per part, parts sent ahead and peak memory, then the ratios.
#
#   benchmarks/upload-benchmark.sh [-c COMMAND]... [-m IDLE/BUSY] [build-dir] [KiB] [runs]
#
#   -c COMMAND   an upload command to time, in which the word F stands for the file; its
#                program is looked for in the build directory, then in PATH. Repeat for
#                several; the first is the one the others are compared with. Default:
#                "TolvaneUploader -f F", "tolvane send --no-pipeline F", "tolvane send F",
#                those whose program is not there skipped.
#   -m IDLE/BUSY the model's turnarounds in milliseconds (default 30/3)
#
# Defaults: build (relative to the repository), 1024 KiB, 3 runs of each command in each
# setting. Modelled times are the emulated bus's plus the waits the model imposes: they show
# what pipelining saves, not what a particular calculator takes. The peak memory needs
# /usr/bin/time (Debian package time); without it the column shows "-".
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
COMMANDS=()
MODEL=30/3
usage() {
    sed -n '/^#   benchmarks/,/^#   -m/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}
while getopts "c:m:h" option; do
    case "$option" in
        c) COMMANDS+=("$OPTARG") ;;
        m) MODEL=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
BUILD_DIR=${1:-build}
KIB=${2:-1024}
RUNS=${3:-3}
[[ "$MODEL" =~ ^[0-9]+/[0-9]+$ && "$KIB" =~ ^[1-9][0-9]*$ && "$RUNS" =~ ^[1-9][0-9]*$ ]] || usage
IDLE=${MODEL%/*}
BUSY=${MODEL#*/}
case "$BUILD_DIR" in
    /*) ;;
    *) BUILD_DIR="$ROOT/$BUILD_DIR" ;;
esac
CALCULATOR="$BUILD_DIR/tools/VirtualCalculator/VirtualCalculator"
[ -x "$CALCULATOR" ] || { echo "missing $CALCULATOR: build first" >&2; exit 1; }
# Writes "SECONDS PEAK-KiB" to time.txt around the command it is given.
if [ -x /usr/bin/time ]; then
    TIMER=(/usr/bin/time -f '%e %M' -o time.txt)
else
    TIMER=(bash -c 'start=$EPOCHREALTIME; "$@"; status=$?
        echo "$start $EPOCHREALTIME" | awk "{ print \$2 - \$1, \"-\" }" > time.txt
        exit $status' timer)
fi
if [ ${#COMMANDS[@]} -eq 0 ]; then
    COMMANDS=("TolvaneUploader -f F" "tolvane send --no-pipeline F" "tolvane send F")
fi

# A program of the build tree by its name (the least deep, not a copy installed by a test),
# or one in PATH; nothing when neither has it.
find_program() {
    local found
    found=$(find "$BUILD_DIR" -path '*/CMakeFiles' -prune -o -type f -perm -u+x -name "$1" \
        -printf '%d %p\n' 2>/dev/null | sort -n | head -n 1 | cut -d ' ' -f 2-)
    [ -n "$found" ] || found=$(command -v "$1" || true)
    echo "$found"
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
head -c $((KIB * 1024)) /dev/urandom > BENCH.BIN
PARTS=$(((KIB * 1024 + 255) / 256))
# Besides one OUT and one IN transfer per part, an upload makes four OUT transfers (the
# zero byte, the connect request, the file request, the terminate) and two IN transfers
# (the answers to the connect and file requests).
FIXED_OUT=4
FIXED_IN=2

# One line per run: command index, setting, seconds, OUT and IN transfers, parts sent
# ahead, peak KiB.
RESULTS=$WORK/results.txt
: > "$RESULTS"

# Runs command $1 (its words in the array named $2) once in setting $3 (none or model).
run_once() {
    local index=$1 setting=$3
    local -n command_words=$2
    local idle=0 busy=0 status=0
    if [ "$setting" = model ]; then
        idle=$IDLE
        busy=$BUSY
    fi
    rm -rf storage
    "$CALCULATOR" --storage storage --count-transfers --report report.txt \
        --idle-turnaround "$idle" --busy-turnaround "$busy" -- \
        "${TIMER[@]}" "${command_words[@]}" >/dev/null 2>err.txt || status=$?
    local failure=""
    if [ "$status" -ne 0 ]; then
        failure="exit status $status"
    elif ! cmp -s BENCH.BIN storage/fls0/BENCH.BIN; then
        failure="the stored file differs"
    fi
    if [ -n "$failure" ]; then
        echo "${COMMANDS[$index]} ($setting): $failure" >&2
        cat err.txt report.txt >&2
        exit 1
    fi
    local seconds peak out in ahead
    read -r seconds peak < time.txt
    read -r out in < <(sed -n 's/.*the host made \([0-9]*\) OUT and \([0-9]*\) IN transfers.*/\1 \2/p' report.txt)
    ahead=$(sed -n 's/.*: \([0-9]*\) of [0-9]* parts of .* came pipelined$/\1/p' report.txt)
    echo "$index $setting $seconds $out $in ${ahead:-0} $peak" >> "$RESULTS"
}

echo "Uploading $KIB KiB ($PARTS parts) to the virtual calculator, $RUNS run(s) of each"
echo "command on the bare emulated bus (none) and under the model (modelled times);"
echo "model: a calculator that takes $IDLE ms to answer a part, $BUSY ms for a part sent ahead"
TIMED=()
for index in "${!COMMANDS[@]}"; do
    read -ra words <<< "${COMMANDS[$index]}"
    program=$(find_program "${words[0]}")
    if [ -z "$program" ]; then
        echo "skipped: ${COMMANDS[$index]} (no program ${words[0]})"
        continue
    fi
    words[0]=$program
    for i in "${!words[@]}"; do
        [ "${words[$i]}" = F ] && words[$i]=BENCH.BIN
    done
    TIMED+=("$index")
    for setting in none model; do
        for _ in $(seq 1 "$RUNS"); do
            run_once "$index" words "$setting"
        done
    done
done
[ ${#TIMED[@]} -gt 0 ] || { echo "no command to time" >&2; exit 1; }

# Medians over the runs, then the table and the ratios.
for index in "${TIMED[@]}"; do
    echo "$index ${COMMANDS[$index]}"
done > names.txt
awk -v parts="$PARTS" -v fo="$FIXED_OUT" -v fi="$FIXED_IN" -v model="model $MODEL ms" '
    function median(list,    values, n, i, j, t) {
        n = split(list, values, " ")
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && values[j - 1] + 0 > values[j] + 0; j--) {
                t = values[j]; values[j] = values[j - 1]; values[j - 1] = t
            }
        return n % 2 ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
    }
    # a / b in this format; "-" for a time too short to divide by.
    function ratio(format, a, b) {
        return b > 0 ? sprintf(format, a / b) : "-"
    }
    FNR == NR {
        order[++count] = $1
        name[$1] = substr($0, length($1) + 2)
        if (length(name[$1]) > width)
            width = length(name[$1])
        next
    }
    {
        key = $1 " " $2
        seconds[key] = seconds[key] " " $3
        out[key] = $4; in_[key] = $5; ahead[key] = $6
        peak[key] = peak[key] " " $7
    }
    END {
        if (width < 24)
            width = 24
        column = "%-" width "s"
        printf "\n" column " %-14s %8s %8s %9s %8s %10s %9s\n", "command", "setting", "seconds",
               "parts/s", "OUT/part", "IN/part", "sent ahead", "peak KiB"
        for (i = 1; i <= count; i++)
            for (s = 0; s < 2; s++) {
                key = order[i] " " (s ? "model" : "none")
                m[key] = median(seconds[key])
                memory = peak[key] ~ /-/ ? "-" : sprintf("%d", median(peak[key]))
                printf column " %-14s %8.2f %8s %9.3f %8.3f %10d %9s\n", name[order[i]],
                       s ? model : "none", m[key], ratio("%.0f", parts, m[key]),
                       (out[key] - fo) / parts, (in_[key] - fi) / parts, ahead[key], memory
            }
        first = order[1]
        printf "\n" column " %12s %16s %17s\n", "ratios of median seconds", "model/none",
               "to first, none", "to first, model"
        for (i = 1; i <= count; i++) {
            c = order[i]
            printf column " %12s %16s %17s\n", name[c], ratio("%.2f", m[c " model"], m[c " none"]),
                   ratio("%.2f", m[c " none"], m[first " none"]),
                   ratio("%.2f", m[c " model"], m[first " model"])
        }
    }' names.txt "$RESULTS"
