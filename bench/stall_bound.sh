#!/bin/sh
# The whole-run bound with the real defaults (not part of the test command:
# it takes about 17 minutes). The built tvqlupd runs against two local sites,
# its nine alternative sites set to the same one:
# - stall: every body drips at 10 bytes/s, below the speed floor, so each
#   method fails after its window and the site list keeps it busy;
# - trickle: every body comes at 4 KiB/s, above the floor, and the update
#   lists a 64 MiB file that would take four and a half hours.
# Each run must end within 600 s with the download-failed status and
# nothing installed; the script prints each run's wall time and its last
# console lines. For comparison, curl with the same speed floor
# (--speed-limit 1024 --speed-time 30) fetches the stalling site's file once.
#   bench/stall_bound.sh [build dir]
set -eu

BUILD=${1:-build}
BUILD=$(cd "$BUILD" && pwd)
for f in tvqlupd tvqpublish tests/site_server; do
  [ -x "$BUILD/$f" ] || { echo "build $BUILD/$f first" >&2; exit 2; }
done
. "$(dirname "$0")/bench_lib.sh"
unset DISPLAY || true

failed=0
scenario() {
  name=$1 rate=$2 size=$3
  dir=$ROOT/$name
  mkdir -p "$dir/site" "$dir/app" "$dir/temp" "$dir/files"
  head -c "$size" /dev/urandom > "$dir/files/payload.bin"
  "$BUILD/tvqpublish" add "$dir/site" --id TVQ2026-01-10 "$dir/files/payload.bin" >/dev/null
  "$BUILD/tests/site_server" --rate "$rate" "$dir/site" "$dir/port" >/dev/null &
  SERVER=$!
  i=0
  while [ ! -s "$dir/port" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  site="http://127.0.0.1:$(cat "$dir/port")/"
  {
    printf 'LiveUpdate.www=%s\r\n' "$site"
    for n in 1 2 3 4 5 6 7 8 9; do printf 'LiveUpdate.www%s=%s\r\n' "$n" "$site"; done
  } > "$dir/app/tvqlupd.INI"
  cp "$BUILD/tvqlupd" "$dir/app/"

  if [ "$name" = stall ]; then
    start=$(date +%s.%N)
    curl -s -o /dev/null --speed-limit 1024 --speed-time 30 "${site}payload.bin" || true
    end=$(date +%s.%N)
    printf 'curl     %6.0f s  (one transfer with the same floor)\n' "$(echo "$end - $start" | bc)"
  fi
  start=$(date +%s.%N)
  (cd "$dir/temp" && TEMP="$dir/temp" LANG=C "$dir/app/tvqlupd" "/Log=$dir/account.txt" 2> "$dir/console.txt")
  end=$(date +%s.%N)
  seconds=$(echo "$end - $start" | bc)
  kill "$SERVER" 2>/dev/null || true
  wait "$SERVER" 2>/dev/null || true
  SERVER=

  printf '%-8s %6.0f s  (%s bytes/s, %s-byte file)\n' "$name" "$seconds" "$rate" "$size"
  tail -n 3 "$dir/console.txt" | sed 's/^/           /'
  if [ "$(echo "$seconds < 600" | bc)" -ne 1 ]; then echo "  FAILED: longer than 600 s"; failed=1; fi
  if [ -e "$dir/app/payload.bin" ]; then echo "  FAILED: the file was installed"; failed=1; fi
}

echo "run     wall time"
scenario stall 10 4096
scenario trickle 4096 $((64 * 1048576))
exit $failed
