#!/bin/sh
# Times a 256 MiB download through the window against the same download on
# the console display.
#   bench/window_bench.sh [build dir] [runs per display, default 3]
# One site is published with tvqpublish (one file of 256 MiB of random bytes)
# and served by site_server on 127.0.0.1 without a rate limit. Each run is
# the built tvqlupd in a fresh application directory, `/P<site> /Log`,
# alternately with DISPLAY set to a private Xvfb (the window) and unset (the
# console display, its output going to a file). Per run two figures:
# - download: the transfer alone, timed by window_bench_cli from the run's
#   account (from "please wait", flushed as the transfer begins, to the
#   carriage return flushed as it ends);
# - run: the whole run's wall time, designed waits (about 11.7 s) included.
# Both figures are given as the median and the best of the runs, with the
# window's cost over the console's in per cent.
set -eu

BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-3}
for tool in tvqlupd tvqpublish tests/site_server bench/window_bench_cli; do
  [ -x "$BUILD/$tool" ] || {
    echo "build $BUILD/$tool first (cmake --build $BUILD --target $(basename "$tool"))" >&2
    exit 2
  }
done
command -v Xvfb >/dev/null || { echo "Xvfb is needed" >&2; exit 2; }

ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tvqwinbench-XXXXXX")
SERVER=
XVFB=
cleanup() {
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null || true
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null || true
  rm -rf "$ROOT"
}
trap cleanup EXIT INT TERM

now() { date +%s%N; }

# Waits until file exists and is not empty.
wait_for() {
  i=0
  while [ ! -s "$1" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
  [ -s "$1" ] || { echo "timed out waiting for $1" >&2; exit 1; }
}

SIZE=268435456
mkdir -p "$ROOT/files" "$ROOT/site"
head -c $SIZE /dev/urandom > "$ROOT/files/big.bin"
"$BUILD/tvqpublish" add "$ROOT/site" --id TVQ2026-01-10 "$ROOT/files/big.bin" >/dev/null
rm -rf "$ROOT/files"

"$BUILD/tests/site_server" "$ROOT/site" "$ROOT/port" >/dev/null &
SERVER=$!
wait_for "$ROOT/port"
SITE="http://127.0.0.1:$(cat "$ROOT/port")/"

Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$ROOT/display" \
  >/dev/null 2>&1 &
XVFB=$!
wait_for "$ROOT/display"
DISPLAY_NAME=":$(cat "$ROOT/display")"

# one_run window|console: prints "<download ms> <run ms>".
one_run() {
  rm -rf "$ROOT/app" "$ROOT/temp"
  mkdir -p "$ROOT/app" "$ROOT/temp"
  cp "$BUILD/tvqlupd" "$ROOT/app/"
  if [ "$1" = window ]; then
    display="DISPLAY=$DISPLAY_NAME"
  else
    display="-u DISPLAY"
  fi
  t0=$(now)
  # shellcheck disable=SC2086  # $display is one or two words on purpose
  download=$(cd "$ROOT/temp" && env $display TEMP="$ROOT/temp" LANG=C \
    "$ROOT/app/tvqlupd" "/P$SITE" /Log 2>"$ROOT/console.txt" | "$BUILD/bench/window_bench_cli")
  t1=$(now)
  [ "$(stat -c %s "$ROOT/app/big.bin" 2>/dev/null || echo 0)" = $SIZE ] || {
    echo "the $1 run did not install the file" >&2
    exit 1
  }
  echo "$download $(( (t1 - t0) / 1000000 ))"
}

# stats <column> <file>: "median best" of that column.
stats() {
  sorted=$(cut -d' ' -f"$1" "$2" | sort -n)
  n=$(echo "$sorted" | wc -l)
  median=$(echo "$sorted" | sed -n "$(( (n + 1) / 2 ))p")
  best=$(echo "$sorted" | head -n 1)
  echo "$median $best"
}

: > "$ROOT/window.txt"
: > "$ROOT/console.txt.runs"
i=1
while [ $i -le "$RUNS" ]; do
  w=$(one_run window)
  c=$(one_run console)
  echo "$w" >> "$ROOT/window.txt"
  echo "$c" >> "$ROOT/console.txt.runs"
  printf 'run %d: window download %6d ms, run %6d ms | console download %6d ms, run %6d ms\n' \
    "$i" $w $c
  i=$((i + 1))
done

report() {
  set -- $(stats "$2" "$ROOT/window.txt") $(stats "$2" "$ROOT/console.txt.runs") "$1"
  awk -v wm="$1" -v wb="$2" -v cm="$3" -v cb="$4" -v name="$5" 'BEGIN {
    printf "%-9s median: window %6d ms, console %6d ms (%+.1f %%)   best: window %6d ms, console %6d ms (%+.1f %%)\n",
      name, wm, cm, (wm / cm - 1) * 100, wb, cb, (wb / cb - 1) * 100 }'
}
echo "256 MiB over HTTP from 127.0.0.1, $RUNS runs per display:"
report download 1
report run 2
