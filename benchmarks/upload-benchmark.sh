#!/usr/bin/env bash
# End-to-end upload benchmark: the real TolvaneUploader sends a file of random bytes to the
# virtual calculator, over the real libusb-1.0. Reports parts per second, USB transfers
# per part and the uploader's peak memory.
#
#   benchmarks/upload-benchmark.sh [build-dir] [KiB] [runs]
#
# Defaults: build (relative to the repository), 1024 KiB, 3 runs. Needs /usr/bin/time.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${1:-build}
KIB=${2:-1024}
RUNS=${3:-3}
case "$BUILD_DIR" in
    /*) ;;
    *) BUILD_DIR="$ROOT/$BUILD_DIR" ;;
esac
CALCULATOR="$BUILD_DIR/tools/VirtualCalculator/VirtualCalculator"
UPLOADER="$BUILD_DIR/TolvaneUploader/TolvaneUploader"
for program in "$CALCULATOR" "$UPLOADER"; do
    [ -x "$program" ] || { echo "missing $program: build first" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
head -c $((KIB * 1024)) /dev/urandom > BENCH.BIN
PARTS=$(((KIB * 1024 + 255) / 256))
# Besides one OUT and one IN transfer per part, an upload makes four OUT transfers (the
# zero byte, the connect request, the file request, the disconnect signal) and two IN
# transfers (the answers to the connect and file requests).
FIXED_OUT=4
FIXED_IN=2

echo "Uploading $KIB KiB ($PARTS parts) to the virtual calculator, $RUNS runs"
printf '%-5s %10s %12s %14s %14s %12s\n' run seconds parts/s "OUT per part" "IN per part" "peak KiB"
for run in $(seq 1 "$RUNS"); do
    rm -rf storage
    "$CALCULATOR" --storage storage --count-transfers --report report.txt -- \
        /usr/bin/time -f '%e %M' -o time.txt "$UPLOADER" -q -f BENCH.BIN >/dev/null
    cmp -s BENCH.BIN storage/fls0/BENCH.BIN || { echo "run $run: the stored file differs" >&2; exit 1; }
    read -r seconds peak < time.txt
    read -r out in < <(sed -n 's/.*the host made \([0-9]*\) OUT and \([0-9]*\) IN transfers.*/\1 \2/p' report.txt)
    awk -v r="$run" -v s="$seconds" -v p="$PARTS" -v o="$out" -v i="$in" -v m="$peak" \
        -v fo="$FIXED_OUT" -v fi="$FIXED_IN" \
        'BEGIN { printf "%-5s %10.2f %12.0f %14.3f %14.3f %12d\n", r, s, p / s, (o - fo) / p, (i - fi) / p, m }'
done
