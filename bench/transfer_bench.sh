#!/bin/sh
# Times the transfer paths against curl, on one local HTTP server, same disk.
#   bench/transfer_bench.sh [build dir]          SIZE_MB (default 256) sets the file size
# - FetchFile of the file into a work directory vs `curl -o` of the same URL
#   (target: at most 1.0 x).
# - DownloadUpdateFiles of it (fetch, then size and checksum) vs `curl -o`
#   plus FileChecksum of the file (target: at most 1.05 x).
# - Peak memory of FetchFile at SIZE_MB and at 16 MiB (should not grow with
#   the file), and how often a surface that redraws at most every 100 ms
#   draws during the fetch (target: about 10 per second or fewer).
# Every time is the best of RUNS runs (default 5), measured around the whole
# process: loopback transfers of this size vary by a third from run to run.
set -eu

BUILD=${1:-build}
CLI=$BUILD/bench/transfer_bench_cli
[ -x "$CLI" ] || { echo "build $CLI first (cmake --build $BUILD --target transfer_bench_cli)" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
SIZE_MB=${SIZE_MB:-256}
. "$(dirname "$0")/bench_lib.sh"

mkdir -p "$ROOT/site" "$ROOT/temp" "$ROOT/out"
head -c $((SIZE_MB * 1048576)) /dev/urandom > "$ROOT/site/big.bin"
head -c $((16 * 1048576)) /dev/urandom > "$ROOT/site/small.bin"
SIZE=$(stat -c %s "$ROOT/site/big.bin")

start_server "$ROOT/site"

field() { tr ' ' '\n' < "$ROOT/last" | sed -n "s/^$1=//p"; }

curl_ms=$(best_of "curl -s -S -o '$ROOT/out/big.bin' '${BASE}big.bin'")
fetch_ms=$(best_of "'$CLI' fetch '${BASE}big.bin' '$ROOT/out/big.bin' $SIZE")
fetch_line=$(cat "$ROOT/last")
sum_ms=$(best_of "'$CLI' checksum '$ROOT/site/big.bin'")
sum_inner=$(field ms)
CHECKSUM=$(field checksum)
down_ms=$(best_of "TEMP='$ROOT/temp' '$CLI' download '$BASE' big.bin $SIZE $CHECKSUM")
down_line=$(cat "$ROOT/last")

rss() { # peak resident set of one fetch, KiB
  rm -rf "$ROOT/out/"*
  /usr/bin/time -f %M -o "$ROOT/rss" "$CLI" fetch "${BASE}$1" "$ROOT/out/$1" "$2" > /dev/null
  cat "$ROOT/rss"
}
rss_big=$(rss big.bin "$SIZE")
rss_small=$(rss small.bin $((16 * 1048576)))

echo "file: $SIZE_MB MiB over HTTP on 127.0.0.1, best of $RUNS"
printf 'FetchFile            %6d ms   curl -o %6d ms             x%s (target <= 1.0)\n' \
  "$fetch_ms" "$curl_ms" "$(ratio "$fetch_ms" "$curl_ms")"
printf 'FileChecksum         %6d ms   (%s ms inside the process)\n' "$sum_ms" "$sum_inner"
printf 'DownloadUpdateFiles  %6d ms   curl -o + checksum %6d ms  x%s (target <= 1.05)\n' \
  "$down_ms" "$((curl_ms + sum_ms))" "$(ratio "$down_ms" "$((curl_ms + sum_ms))")"
printf 'peak memory of FetchFile: %d KiB at %d MiB, %d KiB at 16 MiB\n' "$rss_big" "$SIZE_MB" "$rss_small"
echo "display during FetchFile:           $fetch_line"
echo "display during DownloadUpdateFiles: $down_line"
table_row "FetchFile, $SIZE_MB MiB" "$fetch_ms" "curl -o" "$curl_ms" "<= 1.0"
table_row "DownloadUpdateFiles, $SIZE_MB MiB" "$down_ms" "curl -o + FileChecksum" "$((curl_ms + sum_ms))" "<= 1.05"
