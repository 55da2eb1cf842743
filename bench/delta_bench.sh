#!/bin/sh
# A patched update against the whole download, end to end over HTTP on
# 127.0.0.1, with a trusted key (signed list, record and files):
#   bench/delta_bench.sh [build dir]
# tvqpublish add publishes two versions of a file, the second with a patch
# from the first. DownloadUpdateFiles of the second version (the site's
# record read first) is timed with the first version installed beside the
# program (the patch fetched, applied and checked) and with nothing
# installed (the whole file fetched and checked); curl -o of the whole file
# is the reference for both. Pairs: a SIZE_MB MiB data file with 1 % of its
# 4 KiB blocks new, and tvqlupd built at two commits (PATCH_OLD, default
# HEAD~20, and PATCH_NEW, default HEAD; built once as bench/patch_bench.sh
# builds them). Times are the best of RUNS, measured inside the process.
set -eu

BUILD=${1:-build}
CLI=$BUILD/bench/transfer_bench_cli
PUBLISH=$BUILD/tvqpublish
[ -x "$CLI" ] && [ -x "$PUBLISH" ] || { echo "build $CLI and $PUBLISH first" >&2; exit 2; }
for tool in curl git objcopy shuf; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/bootstrap installs it)" >&2; exit 2; }
done
BUILD=$(cd "$BUILD" && pwd)
CLI=$BUILD/bench/transfer_bench_cli
PUBLISH=$BUILD/tvqpublish
REPO=$(cd "$(dirname "$0")/.." && pwd)
SIZE_MB=${SIZE_MB:-64}
RUNS=${RUNS:-3}
. "$(dirname "$0")/bench_lib.sh"
mkdir -p "$ROOT/out" "$ROOT/temp" "$ROOT/pairs" "$ROOT/app"
# The program reads the installed copy beside itself.
cp "$CLI" "$ROOT/app/"
APP_CLI=$ROOT/app/transfer_bench_cli
PUBKEY=$("$PUBLISH" keygen "$ROOT/bench.key" --unencrypted 2>/dev/null)
printf 'LiveUpdate.publicKey=%s\r\n' "$PUBKEY" > "$ROOT/signed.ini"
SERVED=

# measure ID NAME BASE RESULT: publishes BASE then RESULT as lib-ID.bin in a
# site of their own and times the second version's download.
measure() {
  file=lib-$1.bin site=$ROOT/site-$1
  cp "$3" "$ROOT/pairs/$file" && "$PUBLISH" add "$site" --id "$1-1" "$ROOT/pairs/$file" --sign "$ROOT/bench.key" > /dev/null
  cp "$4" "$ROOT/pairs/$file" && "$PUBLISH" add "$site" --id "$1-2" "$ROOT/pairs/$file" --sign "$ROOT/bench.key" > /dev/null
  size=$(stat -c %s "$4")
  checksum=$("$PUBLISH" checksum "$4" | cut -d: -f3)
  patch=$(find "$site" -maxdepth 1 -name "$file.*.patch" -exec stat -c %s {} \; | head -n 1)
  [ -n "$patch" ] || { echo "$2: tvqpublish made no patch" >&2; exit 1; }
  [ -n "$SERVED" ] || { start_server "$ROOT"; SERVED=1; }
  run="TEMP='$ROOT/temp' '$APP_CLI' download '$BASE'site-$1/ $file $size $checksum '$ROOT/signed.ini' '$site/!update-info.txt'"
  whole=$(best_inner "$run" "rm -f '$ROOT/app/$file'")
  patched=$(best_inner "$run" "cp '$3' '$ROOT/app/$file'")
  curl_ms=$(best_of "curl -s -o '$ROOT/out/c' '$BASE'site-$1/$file")
  printf '%-34s patch %9d of %9d bytes (%s %%)   patched %6d ms   whole %6d ms (x%s)   curl -o %6d ms\n' \
    "$2" "$patch" "$size" "$(awk "BEGIN { printf \"%.2f\", 100 * $patch / $size }")" "$patched" "$whole" \
    "$(ratio "$patched" "$whole")" "$curl_ms"
  table_row "Patched update, $2" "$patched" "the whole download" "$whole" "<= 1.0"
}

data_pair "$ROOT/pairs/data.base" "$ROOT/pairs/data.result"
echo "DownloadUpdateFiles with a trusted key over HTTP on 127.0.0.1, best of $RUNS:"
measure data "$SIZE_MB MiB, 1 % of blocks new" "$ROOT/pairs/data.base" "$ROOT/pairs/data.result"
measure_updater_pair
