#!/bin/sh
# Times the installation against cp and the LZ expansion against msexpand.
#   bench/install_bench.sh [build dir]
# - InstallUpdate of 1,000 files of 4 KiB and of one 256 MiB file, from the
#   work directory into an empty application directory, against `cp -r` of
#   the same files. Both read from the page cache (the files were just
#   written). The installation's fixed waits are skipped (they add 3.5 s of
#   sleeping to every run: 200 + 500 ms for each of the five optional files
#   it looks for); what is timed is its copying, comparing and flushing.
# - LzExpand of a .ex_ of about 20 MiB (made once by mscompress from system
#   programs, kept in the bench directory) against `msexpand`, as MB/s of
#   expanded output.
# Each figure is the best of 3 runs.
set -eu

BUILD=${1:-build}
CLI=$BUILD/bench/install_bench_cli
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build $BUILD --target install_bench_cli)" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tvqbench-XXXXXX")
trap 'rm -rf "$ROOT"' EXIT
FIXTURES=$BUILD/bench/fixtures
mkdir -p "$FIXTURES"

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }

# best_of3 <setup command> <timed command>: prints the best time in ms.
best_of3() {
  best=
  for _ in 1 2 3; do
    eval "$1"
    t0=$(now)
    eval "$2" >/dev/null 2>&1 || { echo "failed: $2" >&2; exit 1; }
    t1=$(now)
    t=$(ms "$t0" "$t1")
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

# install_vs_cp <name> <source dir>
install_vs_cp() {
  name=$1
  src=$2
  work=$(TEMP="$ROOT/temp" "$CLI" workdir)
  setup="rm -rf '$ROOT/temp' '$ROOT/app' '$ROOT/cp'; mkdir -p '$ROOT/temp' '$ROOT/app';
         cp -r '$src' '$work'; sync"
  inst=$(best_of3 "$setup" "TEMP='$ROOT/temp' '$CLI' install '$ROOT/app'")
  cp_ms=$(best_of3 "$setup" "cp -r '$src' '$ROOT/cp'")
  cps_ms=$(best_of3 "$setup" "cp -r '$src' '$ROOT/cp' && sync")
  ratio=$(awk "BEGIN { printf \"%.1f\", $inst / ($cp_ms > 0 ? $cp_ms : 1) }")
  ratios=$(awk "BEGIN { printf \"%.1f\", $inst / ($cps_ms > 0 ? $cps_ms : 1) }")
  printf '%-22s InstallUpdate %6d ms   cp -r %6d ms (x%s)   cp -r + sync %6d ms (x%s)\n' \
    "$name" "$inst" "$cp_ms" "$ratio" "$cps_ms" "$ratios"
}

mkdir -p "$ROOT/small"
i=0
while [ $i -lt 1000 ]; do
  head -c 4096 /dev/urandom > "$ROOT/small/file$i.dat"
  i=$((i + 1))
done
install_vs_cp "1,000 files of 4 KiB" "$ROOT/small"

mkdir -p "$ROOT/big"
head -c 268435456 /dev/urandom > "$ROOT/big/big.dat"
install_vs_cp "one file of 256 MiB" "$ROOT/big"
rm -rf "$ROOT/big" "$ROOT/small"

# The .ex_ fixture: about 40 MiB of system programs, packed once.
PACKED=$FIXTURES/programs.ex_
if [ ! -f "$PACKED" ]; then
  find /usr/bin /usr/lib -maxdepth 2 -type f -size +100k 2>/dev/null | sort | xargs cat 2>/dev/null |
    head -c 41943040 > "$FIXTURES/programs" || true
  mscompress "$FIXTURES/programs"
  mv "$FIXTURES/programs_" "$PACKED"
  rm -f "$FIXTURES/programs"
fi
packed_bytes=$(stat -c %s "$PACKED")
lz=$(best_of3 "rm -f '$ROOT/out'" "'$CLI' lzexpand '$PACKED' '$ROOT/out'")
out_bytes=$(stat -c %s "$ROOT/out")
ms_ms=$(best_of3 "rm -f '$ROOT/out2'" "msexpand < '$PACKED' > '$ROOT/out2'")
cmp -s "$ROOT/out" "$ROOT/out2" || { echo "LzExpand and msexpand differ" >&2; exit 1; }
rate() { awk "BEGIN { printf \"%.0f\", $1 / 1048576 / (($2 > 0 ? $2 : 1) / 1000) }"; }
printf '%-22s LzExpand %6d ms (%s MB/s)   msexpand %6d ms (%s MB/s)   [%d -> %d bytes]\n' \
  "LZ expansion" "$lz" "$(rate "$out_bytes" "$lz")" "$ms_ms" "$(rate "$out_bytes" "$ms_ms")" \
  "$packed_bytes" "$out_bytes"
