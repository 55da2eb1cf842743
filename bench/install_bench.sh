#!/bin/sh
# Times the installation against cp and the LZ expansion against msexpand.
#   bench/install_bench.sh [build dir]
# - InstallUpdate of FILES files of 4 KiB (default 1,000) and of one SIZE_MB
#   MiB file (default 256), from the
#   work directory into an empty application directory, against `cp -r` of
#   the same files. Both read from the page cache (the files were just
#   written). The installation's fixed waits are skipped (they add 3.5 s of
#   sleeping to every run: 200 + 500 ms for each of the five optional files
#   it looks for); what is timed is its copying, comparing and flushing.
# - LzExpand of a .ex_ of LZ_MB MiB of system programs (default 40; made
#   once by mscompress, kept in the bench directory; 0: none) against
#   `msexpand`, as MB/s of expanded output.
# Each figure is the best of RUNS runs (default 3).
set -eu

BUILD=${1:-build}
CLI=$BUILD/bench/install_bench_cli
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build $BUILD --target install_bench_cli)" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
SIZE_MB=${SIZE_MB:-256}
FILES=${FILES:-1000}
LZ_MB=${LZ_MB:-40}
RUNS=${RUNS:-3}
. "$(dirname "$0")/bench_lib.sh"
FIXTURES=$BUILD/bench/fixtures
mkdir -p "$FIXTURES"

# install_vs_cp <name> <source dir>
install_vs_cp() {
  name=$1
  src=$2
  work=$(TEMP="$ROOT/temp" "$CLI" workdir)
  setup="rm -rf '$ROOT/temp' '$ROOT/app' '$ROOT/cp'; mkdir -p '$ROOT/temp' '$ROOT/app';
         cp -r '$src' '$work'; sync"
  inst=$(best_of "TEMP='$ROOT/temp' '$CLI' install '$ROOT/app'" "$setup")
  cp_ms=$(best_of "cp -r '$src' '$ROOT/cp'" "$setup")
  cps_ms=$(best_of "cp -r '$src' '$ROOT/cp' && sync" "$setup")
  printf '%-22s InstallUpdate %6d ms   cp -r %6d ms (x%s)   cp -r + sync %6d ms (x%s)\n' \
    "$name" "$inst" "$cp_ms" "$(ratio "$inst" "$cp_ms")" "$cps_ms" "$(ratio "$inst" "$cps_ms")"
  table_row "InstallUpdate, $name" "$inst" "cp -r + sync" "$cps_ms" "-"
}

mkdir -p "$ROOT/small"
i=0
while [ $i -lt "$FILES" ]; do
  head -c 4096 /dev/urandom > "$ROOT/small/file$i.dat"
  i=$((i + 1))
done
install_vs_cp "$FILES files of 4 KiB" "$ROOT/small"

mkdir -p "$ROOT/big"
head -c $((SIZE_MB * 1048576)) /dev/urandom > "$ROOT/big/big.dat"
install_vs_cp "one file of $SIZE_MB MiB" "$ROOT/big"
rm -rf "$ROOT/big" "$ROOT/small"

# LZ_MB=0 leaves the expansion out (msexpand takes seconds a mebibyte).
if [ "$LZ_MB" -gt 0 ]; then
  # The .ex_ fixture: LZ_MB MiB of system programs, packed once.
  PACKED=$FIXTURES/programs$LZ_MB.ex_
  if [ ! -f "$PACKED" ]; then
    find /usr/bin /usr/lib -maxdepth 2 -type f -size +100k 2>/dev/null | sort | xargs cat 2>/dev/null |
      head -c $((LZ_MB * 1048576)) > "$FIXTURES/programs$LZ_MB" || true
    mscompress "$FIXTURES/programs$LZ_MB"
    mv "$FIXTURES/programs${LZ_MB}_" "$PACKED"
    rm -f "$FIXTURES/programs$LZ_MB"
  fi
  packed_bytes=$(stat -c %s "$PACKED")
  lz=$(best_of "'$CLI' lzexpand '$PACKED' '$ROOT/lz.out'" "rm -f '$ROOT/lz.out'")
  out_bytes=$(stat -c %s "$ROOT/lz.out")
  ms_ms=$(best_of "msexpand < '$PACKED' > '$ROOT/ms.out'" "rm -f '$ROOT/ms.out'")
  cmp -s "$ROOT/lz.out" "$ROOT/ms.out" || { echo "LzExpand and msexpand differ" >&2; exit 1; }
  rate() { awk "BEGIN { printf \"%.0f\", $1 / 1048576 / (($2 > 0 ? $2 : 1) / 1000) }"; }
  printf '%-22s LzExpand %6d ms (%s MB/s)   msexpand %6d ms (%s MB/s)   [%d -> %d bytes]\n' \
    "LZ expansion" "$lz" "$(rate "$out_bytes" "$lz")" "$ms_ms" "$(rate "$out_bytes" "$ms_ms")" \
    "$packed_bytes" "$out_bytes"
  table_row "LzExpand, $((out_bytes / 1048576)) MiB out" "$lz" "msexpand" "$ms_ms" "-"
fi
