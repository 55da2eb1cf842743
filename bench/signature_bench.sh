#!/bin/sh
# Times what signatures add to a download, on one local HTTP server, same disk.
#   bench/signature_bench.sh [build dir]          SIZE_MB (default 256) sets the file size
# - DownloadUpdateFiles of one signed file with a trusted key (fetch, size,
#   checksum, then NAME.minisig fetched and the file hashed once more and
#   checked) vs the same download without a key (target: at most 1.15 x).
# - The check alone (VerifyFileSignature, one process per run) against the
#   tools that do the same: `minisign -V` of the file and `b2sum` (its
#   BLAKE2b-512 pass).
# Every time is the best of RUNS runs (default 5), measured around the whole
# process.
set -eu

BUILD=${1:-build}
CLI=$BUILD/bench/transfer_bench_cli
PUBLISH=$BUILD/tvqpublish
[ -x "$CLI" ] && [ -x "$PUBLISH" ] || { echo "build $CLI and $PUBLISH first" >&2; exit 2; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
PUBLISH=$(cd "$(dirname "$PUBLISH")" && pwd)/$(basename "$PUBLISH")
SIZE_MB=${SIZE_MB:-256}
. "$(dirname "$0")/bench_lib.sh"

mkdir -p "$ROOT/files" "$ROOT/temp"
head -c $((SIZE_MB * 1048576)) /dev/urandom > "$ROOT/files/big.bin"
PUBKEY=$("$PUBLISH" keygen "$ROOT/bench.key" --unencrypted 2>/dev/null)
"$PUBLISH" add "$ROOT/site" --id bench "$ROOT/files/big.bin" --sign "$ROOT/bench.key" > /dev/null
rm "$ROOT/files/big.bin"
SIZE=$(stat -c %s "$ROOT/site/big.bin")
CHECKSUM=$("$PUBLISH" checksum "$ROOT/site/big.bin" | cut -d: -f3)
printf 'LiveUpdate.publicKey=%s\r\n' "$PUBKEY" > "$ROOT/signed.ini"

start_server "$ROOT/site"


plain_ms=$(best_of "TEMP='$ROOT/temp' '$CLI' download '$BASE' big.bin $SIZE $CHECKSUM")
signed_ms=$(best_of "TEMP='$ROOT/temp' '$CLI' download '$BASE' big.bin $SIZE $CHECKSUM '$ROOT/signed.ini'")
grep -q "ok=1" "$ROOT/last" || { echo "the signed download failed:" >&2; cat "$ROOT/last" >&2; exit 1; }
verify_ms=$(best_of "'$CLI' verify '$ROOT/site/big.bin' '$PUBKEY'")
minisign_ms=$(best_of "minisign -V -q -P '$PUBKEY' -m '$ROOT/site/big.bin'")
b2sum_ms=$(best_of "b2sum '$ROOT/site/big.bin'")

echo "file: $SIZE_MB MiB over HTTP on 127.0.0.1, best of $RUNS"
printf 'DownloadUpdateFiles, no key      %6d ms\n' "$plain_ms"
printf 'DownloadUpdateFiles, signed      %6d ms   x%s of the download without key (target <= 1.15)\n' \
  "$signed_ms" "$(ratio "$signed_ms" "$plain_ms")"
printf 'signature cost in the download   %6d ms\n' "$((signed_ms - plain_ms))"
printf 'VerifyFileSignature              %6d ms   minisign -V %6d ms  x%s; b2sum %d ms\n' \
  "$verify_ms" "$minisign_ms" "$(ratio "$verify_ms" "$minisign_ms")" "$b2sum_ms"
table_row "DownloadUpdateFiles signed, $SIZE_MB MiB" "$signed_ms" "the same, no key" "$plain_ms" "<= 1.15"
table_row "VerifyFileSignature, $SIZE_MB MiB" "$verify_ms" "minisign -V" "$minisign_ms" "-"
