#!/bin/sh
# Patches against the tools that make and apply them, on the same pairs:
#   bench/patch_bench.sh [build dir]
# Pairs:
# - the updater itself, as a release ships it (stripped), built at two
#   commits of this repository: PATCH_OLD (default HEAD~20) and PATCH_NEW
#   (default HEAD). Each is built once, from the commit's files alone, and
#   kept in the build's bench/patch-pairs folder for later runs.
# - a file of SIZE_MB MiB (default 64) of random bytes, and the same with 1 %
#   of its 4 KiB blocks replaced.
# For each pair: the patch's bytes against `bsdiff` and `zstd -19 --long
# --patch-from`; the time to make it (once) and to apply it (best of RUNS,
# as MB/s of result) against `bspatch` and `zstd -d --patch-from`; the peak
# memory (/usr/bin/time) of every run.
set -eu

BUILD=${1:-build}
CLI=$BUILD/bench/patch_bench_cli
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build $BUILD --target patch_bench_cli)" >&2; exit 2; }
for tool in bsdiff bspatch zstd git objcopy shuf; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/bootstrap installs it)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (scripts/bootstrap installs it)" >&2; exit 2; }
BUILD=$(cd "$BUILD" && pwd)
CLI=$BUILD/bench/patch_bench_cli
REPO=$(cd "$(dirname "$0")/.." && pwd)
SIZE_MB=${SIZE_MB:-64}
RUNS=${RUNS:-3}
. "$(dirname "$0")/bench_lib.sh"
mkdir -p "$ROOT/out" "$ROOT/pairs"

# peak: the peak memory in MiB of the last run timed with $MEM.
MEM="/usr/bin/time -f %M -o '$ROOT/mem'"
peak() { awk '{ printf "%.0f", $1 / 1024 }' "$ROOT/mem"; }
# mbps BYTES MS: millions of bytes a second.
mbps() { awk "BEGIN { printf \"%.0f\", $1 / ($2 > 0 ? $2 : 1) / 1000 }"; }

# measure ID NAME BASE RESULT: one pair, every tool; ID names its files.
measure() {
  name=$2 base=$3 result=$4
  size=$(stat -c %s "$result")
  p=$ROOT/pairs/$1
  make_ms=$(RUNS=1 best_of "$MEM '$CLI' make '$base' '$result' '$p.tvq'")
  make_mem=$(peak)
  bsdiff_ms=$(RUNS=1 best_of "$MEM bsdiff '$base' '$result' '$p.bsdiff'")
  bsdiff_mem=$(peak)
  zstd_ms=$(RUNS=1 best_of "$MEM zstd -q -f -19 --long=31 --patch-from='$base' '$result' -o '$p.zst'")
  zstd_mem=$(peak)
  apply_ms=$(best_of "$MEM '$CLI' apply '$base' '$p.tvq' '$ROOT/out/result'")
  apply_mem=$(peak)
  cmp -s "$ROOT/out/result" "$result" || { echo "$name: the applied patch does not give the result" >&2; exit 1; }
  bspatch_ms=$(best_of "$MEM bspatch '$base' '$ROOT/out/result' '$p.bsdiff'")
  bspatch_mem=$(peak)
  unzstd_ms=$(best_of "$MEM zstd -q -f -d --long=31 --patch-from='$base' '$p.zst' -o '$ROOT/out/result'")
  unzstd_mem=$(peak)
  ours=$(stat -c %s "$p.tvq") bsd=$(stat -c %s "$p.bsdiff") zst=$(stat -c %s "$p.zst")
  echo "$name ($size bytes; best of $RUNS for applying):"
  printf 'bytes: %-26s ours %9d (%s %% of the result)  bsdiff %9d (x%s)  zstd --patch-from %9d (x%s)\n' \
    "$name" "$ours" "$(awk "BEGIN { printf \"%.2f\", 100 * $ours / $size }")" "$bsd" "$(ratio "$ours" "$bsd")" \
    "$zst" "$(ratio "$ours" "$zst")"
  printf 'speed: %-26s apply %4s MB/s %4s MiB  bspatch %4s MB/s %4s MiB  zstd -d %4s MB/s %4s MiB\n' \
    "$name" "$(mbps "$size" "$apply_ms")" "$apply_mem" "$(mbps "$size" "$bspatch_ms")" "$bspatch_mem" \
    "$(mbps "$size" "$unzstd_ms")" "$unzstd_mem"
  printf '  make  %6d ms %5s MiB   bsdiff %6d ms %5s MiB   zstd -19 --long %6d ms %5s MiB\n' \
    "$make_ms" "$make_mem" "$bsdiff_ms" "$bsdiff_mem" "$zstd_ms" "$zstd_mem"
  printf '  apply %6d ms %5s MiB   bspatch %5d ms %5s MiB   zstd -d        %6d ms %5s MiB\n' \
    "$apply_ms" "$apply_mem" "$bspatch_ms" "$bspatch_mem" "$unzstd_ms" "$unzstd_mem"
  table_row "ApplyPatch, $name" "$apply_ms" "bspatch" "$bspatch_ms" "-"
  table_row "MakePatch, $name" "$make_ms" "bsdiff" "$bsdiff_ms" "-"
}

measure_updater_pair
data_pair "$ROOT/pairs/data.base" "$ROOT/pairs/data.result"
measure data "$SIZE_MB MiB, 1 % of blocks new" "$ROOT/pairs/data.base" "$ROOT/pairs/data.result"
