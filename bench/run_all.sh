#!/bin/sh
# Runs every benchmark against its reference tools in one go and prints one
# table of the ratios (ours / reference, both measured in this run):
#   bench/run_all.sh [--quick | --long] [linux build] [windows build]
# --quick (scripts/test's table, well under a minute) uses 16 MiB files,
# 100 small files and the best of 2, and leaves out what takes minutes (the
# LZ expansion, patches, Wine, Cancel).
# The short mode (default, about three minutes on an idle machine, a few
# more the first time, when the patch benchmark builds tvqlupd at two
# commits, and some five minutes more for the Cancel latencies) uses 64 MiB
# files, 200 small files, a 1 MiB LZ fixture, the best of 3 runs and 2
# Cancel trials a moment; --long uses 256 MiB, 1,000 small files, 8 MiB, the
# best of 5 and 4 Cancel trials, for figures worth quoting (msexpand, the LZ
# reference, expands well under a mebibyte a second; the patch makers take
# minutes at 256 MiB). A benchmark that cannot run (a build
# or a tool missing) is listed with its reason; the script itself always
# succeeds: it prints figures, it judges nothing. Each benchmark's own
# output is kept in the log directory named at the end.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
SIZE_MB=64 RUNS=3 FILES=200 LZ_MB=1 PEAKS=0 TRIALS=2
QUICK=0
if [ "${1:-}" = --long ]; then
  SIZE_MB=256 RUNS=5 FILES=1000 LZ_MB=8 PEAKS=1 TRIALS=4
  shift
elif [ "${1:-}" = --quick ]; then
  SIZE_MB=16 RUNS=2 FILES=100 LZ_MB=0 QUICK=1
  shift
fi
LINUX=${1:-$HERE/../build}
WINDOWS=${2:-$HERE/../build-windows}
LOGS=${BENCH_LOGS:-$(mktemp -d "${TMPDIR:-/tmp}/tvqbench-logs-XXXXXX")}
BENCH_TABLE=$LOGS/rows
: > "$BENCH_TABLE"
export SIZE_MB RUNS FILES LZ_MB PEAKS TRIALS BENCH_TABLE

# run NAME SCRIPT ARGS...: one benchmark; a failure becomes a line of the table.
run() {
  name=$1
  shift
  start=$(date +%s)
  if sh "$@" > "$LOGS/$name.log" 2>&1; then
    echo "$name: $(( $(date +%s) - start )) s" >> "$LOGS/times"
  else
    why=$(grep -v '^\s*$' "$LOGS/$name.log" | tail -n 1)
    echo "$name|not run: ${why:-no output}" >> "$LOGS/skipped"
  fi
}

: > "$LOGS/skipped"
: > "$LOGS/times"
run transfer "$HERE/transfer_bench.sh" "$LINUX"
run fileutil "$HERE/fileutil_compare.sh" "$LINUX" "$SIZE_MB"
run signature "$HERE/signature_bench.sh" "$LINUX"
run install "$HERE/install_bench.sh" "$LINUX"
if [ "$QUICK" = 1 ]; then
  echo "patch, delta, wine, cancel|not run: --quick" >> "$LOGS/skipped"
else
  run patch "$HERE/patch_bench.sh" "$LINUX"
  run delta "$HERE/delta_bench.sh" "$LINUX"
  if [ -f "$WINDOWS/tests/transfer_bench_cli.exe" ]; then
    run wine "$HERE/wine_transfer_bench.sh" "$LINUX" "$WINDOWS"
  else
    echo "wine|not run: no Windows build at $WINDOWS" >> "$LOGS/skipped"
  fi
  run cancel "$HERE/cancel_latency.sh" "$LINUX" "$WINDOWS"
fi

echo "Benchmarks ($SIZE_MB MiB files, best of $RUNS; load $(uptime | sed 's/.*load average: //'))"
printf '%-52s %7s  %-24s %7s %6s %7s\n' "ours" "ms" "reference" "ms" "ratio" "goal"
awk -F'|' '{
  ratio = $4 > 0 ? sprintf("%.2f", $2 / $4) : "-"
  printf "%-52s %7d  %-24s %7d %6s %7s\n", $1, $2, $3, $4, ratio, $5
}' "$BENCH_TABLE"
awk -F'|' '{ printf "%-52s %s\n", $1, $2 }' "$LOGS/skipped"
# Patches: their bytes against the other tools', the speed of applying them.
if grep -q '^bytes: ' "$LOGS/patch.log" 2>/dev/null; then
  echo "Patches: bytes against bsdiff and zstd --patch-from; applying, MB/s of result and peak memory:"
  sed -n 's/^\(bytes\|speed\): /  /p' "$LOGS/patch.log"
fi
# Bytes over the wire rather than time: interrupted and reused downloads.
if [ "$QUICK" = 0 ] && [ -x "$LINUX/bench/resume_bench_cli" ]; then
  echo "Bytes over the wire against the file's size ($SIZE_MB MiB; goal <= 1.05 x):"
  "$LINUX/bench/resume_bench_cli" "$SIZE_MB" 2>&1 | sed 's/^/  /'
fi
# Milliseconds from Cancel to the end of the process, per moment of a run:
# a latency, not a ratio.
if [ -s "$LOGS/cancel.log" ] && ! grep -q '^cancel|' "$LOGS/skipped"; then
  echo "Cancel (SIGINT, SIGTERM) to the end of the process:"
  sed 's/^/  /' "$LOGS/cancel.log"
fi
echo "times: $(paste -sd ' ' "$LOGS/times" | sed 's/ s /s, /g'); logs in $LOGS"
exit 0
