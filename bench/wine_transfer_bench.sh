#!/bin/sh
# The transfer and checksum paths of the Windows build under Wine against the
# Linux build and the reference tools, in one run, on one local HTTP server
# (the Linux build's) and the same disk:
#   bench/wine_transfer_bench.sh [linux build] [windows build]    SIZE_MB (default 256)
# - FetchFile (WinInet under Wine) vs FetchFile (libcurl) vs `curl -o`;
# - FileChecksum under Wine vs FileChecksum on Linux vs `md5sum`;
# - CopyFileBuffered under Wine vs on Linux vs `cp`.
# Target: the Windows build's FetchFile at most 1.2 x the Linux build's.
# FetchFile and FileChecksum are timed inside the process (Wine's start of a
# process is not counted; it is printed apart); curl, md5sum and the copies
# around the whole process. Each time is the best of RUNS runs (default 3).
set -eu

LINUX=${1:-build}
WINDOWS=${2:-build-windows}
CLI=$(cd "$LINUX/bench" && pwd)/transfer_bench_cli
WCLI=$(cd "$WINDOWS/tests" && pwd)/transfer_bench_cli.exe
FILEOPS=$(cd "$LINUX/bench" && pwd)/fileops_cli
WFILEOPS=$(cd "$WINDOWS/tests" && pwd)/fileops_cli.exe
[ -x "$CLI" ] && [ -f "$WCLI" ] && [ -x "$FILEOPS" ] && [ -f "$WFILEOPS" ] ||
  { echo "build transfer_bench_cli and fileops_cli in both builds first" >&2; exit 2; }
WINE=${WINE:-/usr/lib/wine/wine64}
export WINEPREFIX=${WINEPREFIX:-$(cd "$WINDOWS" && pwd)/wineprefix} WINEDEBUG=-all LANG=C.UTF-8
SIZE_MB=${SIZE_MB:-256}
RUNS=${RUNS:-3}
. "$(dirname "$0")/bench_lib.sh"
"$WINE" wineboot -i >/dev/null 2>&1

mkdir -p "$ROOT/site" "$ROOT/out"
head -c $((SIZE_MB * 1048576)) /dev/urandom > "$ROOT/site/big.bin"
SIZE=$(stat -c %s "$ROOT/site/big.bin")
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

start_server "$ROOT/site"
URL=${BASE}big.bin

wine_start=$(best_of "'$WINE' '$WCLI' nothing || true")
curl_ms=$(best_of "curl -s -S -o '$ROOT/out/big.bin' '$URL'")
linux_fetch=$(best_inner "'$CLI' fetch '$URL' '$ROOT/out/big.bin' $SIZE")
wine_fetch=$(best_inner "'$WINE' '$WCLI' fetch '$URL' '$(winpath "$ROOT/out/big.bin")' $SIZE")
grep -q 'ok=1' "$ROOT/last" || { echo "the Windows fetch failed: $(cat "$ROOT/last")" >&2; exit 1; }
md5_ms=$(best_of "md5sum '$ROOT/site/big.bin'")
linux_sum=$(best_inner "'$CLI' checksum '$ROOT/site/big.bin'")
linux_value=$(sed -n 's/^checksum=\([-0-9]*\).*/\1/p' "$ROOT/last")
wine_sum=$(best_inner "'$WINE' '$WCLI' checksum '$(winpath "$ROOT/site/big.bin")'")
wine_value=$(sed -n 's/^checksum=\([-0-9]*\).*/\1/p' "$ROOT/last" | tr -d '\r')
[ "$linux_value" = "$wine_value" ] || { echo "checksums differ: $linux_value $wine_value" >&2; exit 1; }
cp_ms=$(best_of "cp '$ROOT/site/big.bin' '$ROOT/out/copy.bin'")
linux_copy=$(best_inner "'$FILEOPS' copy '$ROOT/site/big.bin' '$ROOT/out/copy.bin'")
wine_copy=$(best_inner "'$WINE' '$WFILEOPS' copy '$(winpath "$ROOT/site/big.bin")' '$(winpath "$ROOT/out/copy.bin")'")

echo "file: $SIZE_MB MiB over 127.0.0.1; best of $RUNS; Wine's start of a process: $wine_start ms"
echo "FetchFile, FileChecksum and CopyFileBuffered timed in the process, curl, md5sum and cp around it"
printf 'FetchFile  Windows/Wine %6d ms  Linux %6d ms  curl -o %6d ms  Windows/Linux x%s  Windows/curl x%s\n' \
  "$wine_fetch" "$linux_fetch" "$curl_ms" "$(ratio "$wine_fetch" "$linux_fetch")" "$(ratio "$wine_fetch" "$curl_ms")"
printf 'FileChecksum Windows/Wine %6d ms  Linux %6d ms  md5sum %6d ms  Windows/Linux x%s  Windows/md5sum x%s\n' \
  "$wine_sum" "$linux_sum" "$md5_ms" "$(ratio "$wine_sum" "$linux_sum")" "$(ratio "$wine_sum" "$md5_ms")"
printf 'CopyFileBuffered Windows/Wine %6d ms  Linux %6d ms  cp %6d ms  Windows/Linux x%s  Windows/cp x%s\n' \
  "$wine_copy" "$linux_copy" "$cp_ms" "$(ratio "$wine_copy" "$linux_copy")" "$(ratio "$wine_copy" "$cp_ms")"
table_row "FetchFile, Windows build under Wine, $SIZE_MB MiB" "$wine_fetch" "the Linux build" "$linux_fetch" "<= 1.2"
table_row "FileChecksum, Windows build under Wine" "$wine_sum" "the Linux build" "$linux_sum" "-"
table_row "CopyFileBuffered, Windows build under Wine" "$wine_copy" "the Linux build" "$linux_copy" "-"
