#!/bin/sh
# How fast a run answers Cancel: the built tvqlupd runs against local sites
# and gets SIGINT or SIGTERM (alternately) at a chosen moment of its run; the
# time from the signal to the end of the process is measured, and the
# application directory and the settings are checked afterwards: every file
# is either as it was or the update's, nothing else stands there, and the
# update is recorded only when all of it is in place.
#   bench/cancel_latency.sh [build] [windows build]
#   TRIALS   runs per moment (default 4), each a little later in the moment
#   TVQLUPD  the program to measure (default: the build's), e.g. an older one
#   MOMENTS, WINE_MOMENTS  the moments to measure (default: all, below)
#   LINUX=0  no Linux figures (the Wine variant alone)
#   WINE=0   no Wine variant (the Windows build in its window on a private
#            Xvfb, cancelled with Escape; see below)
#   WINE_TRIALS  runs per moment under Wine (default TRIALS)
#   TVQLUPD_EXE  the Windows program to measure (default: the Windows build's)
# Moments: the console's start delay, the wait for the run lock, a stalled
# list fetch, the pauses after obsolete updates, a slow download, a stalled
# download, a retry pause, the wait for a running tvq.exe, the pause that
# keeps "no new updates" readable, and the end wait after an installation.
# The reference is timeout(1) running sleep: the same signal, the same way of
# timing, and a process that ends at once. Prints figures, judges nothing.
set -eu

BUILD=$(cd "${1:-build}" && pwd)
WINDOWS=${2:-build-windows}
PROGRAM=${TVQLUPD:-$BUILD/tvqlupd}
TRIALS=${TRIALS:-4}
for f in "$PROGRAM" "$BUILD/tvqpublish" "$BUILD/tests/site_server"; do
  [ -x "$f" ] || { echo "build $f first" >&2; exit 2; }
done
. "$(dirname "$0")/bench_lib.sh"
unset DISPLAY || true
HOLDERS=
finish() {
  for p in $HOLDERS ${XVFB:-}; do kill -9 "$p" 2>/dev/null || true; done
  [ -n "${WINESERVER:-}" ] && "$WINESERVER" -k 2>/dev/null || true
  cleanup
}
trap finish EXIT INT TERM

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# A program started in the background of a script ignores SIGINT; the runs
# get its default disposition back, as when started from a terminal.
DEFAULT_SIGNALS="env --default-signal=INT"
# Whether process $1 runs (a zombie has ended).
alive() {
  state=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
  [ -n "$state" ] && [ "$state" != Z ]
}

# hold CMD...: runs a helper for the length of the trial (a server, a lock).
hold() {
  "$@" >/dev/null 2>&1 &
  HOLDERS="$HOLDERS $!"
}
release() {
  for p in $HOLDERS; do kill "$p" 2>/dev/null || true; done
  for p in $HOLDERS; do wait "$p" 2>/dev/null || true; done
  HOLDERS=
}

# serve DIR [site_server options]: serves DIR/site; sets SITE to its address.
serve() {
  dir=$1
  shift
  rm -f "$dir/port"
  hold "$BUILD/tests/site_server" "$@" "$dir/site" "$dir/port"
  i=0
  while [ ! -s "$dir/port" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
  SITE="http://127.0.0.1:$(cat "$dir/port")/"
}

publish() {
  dir=$1 id=$2
  shift 2
  "$BUILD/tvqpublish" add "$dir/site" --id "$id" "$@" >/dev/null
}

# file DIR NAME SIZE: a file of random bytes to publish.
file() {
  head -c "$3" /dev/urandom > "$1/files/$2"
  echo "$1/files/$2"
}

settings() { printf '%s\r\n' "$@" > "$APP/tvqlupd.INI"; }

# The application directory's files (not the settings, not the run lock).
snapshot() {
  (cd "$1" && for f in * .[!.]*; do
    [ -f "$f" ] || continue
    case $f in tvqlupd.INI | .tvqlupd.lock) continue ;; esac
    printf '%s %s\n' "$f" "$(md5sum < "$f" | cut -c1-32)"
  done)
}

recorded() { sed -n 's/^LiveUpdate.lastUpdateInfo=\(.*\)\r*$/\1/p' "$APP/tvqlupd.INI" | tr -d '\r'; }

# Whether the application directory holds each file as it was or as the
# update has it, nothing else, and the record only with the whole update.
consistency() {
  dir=$1 before=$2 record_before=$3
  snapshot "$APP" > "$dir/after"
  (cd "$dir/files" && for f in *; do printf '%s %s\n' "$f" "$(md5sum < "$f" | cut -c1-32)"; done) > "$dir/new"
  problem=
  while read -r name sum; do
    grep -qxF "$name $sum" "$before" || grep -qxF "$name $sum" "$dir/new" || problem="$problem stray:$name"
  done < "$dir/after"
  while read -r name sum; do
    cut -d' ' -f1 "$dir/after" | grep -qxF "$name" || problem="$problem missing:$name"
  done < "$before"
  if [ "$(recorded)" != "$record_before" ]; then
    while read -r name sum; do
      grep -qxF "$name $sum" "$dir/after" || problem="$problem recorded-without:$name"
    done < "$dir/new"
  fi
  grep -q '^LiveUpdate' "$APP/tvqlupd.INI" || problem="$problem settings-lost"
  echo "${problem:-ok}"
}

# The moments: each prepares the installation and its site, and sets MARK
# (a command that succeeds once the run has reached the moment; it reads
# the run's account and console), DELAY (ms after MARK for the first
# trial's signal, default 0) and STEP, how much later (ms) each trial
# signals than the one before.
# one_update DIR [SETTING...]: one update of one small file, on a site of
# the platform's usual kind; the settings name that site and these.
one_update() {
  publish "$1" TVQ2026-01-10 "$(file "$1" news.txt 100)"
  use_site "$1"
  settings "LiveUpdate.www=$SITE" "${2:-}" "${3:-}"
}
# The settings of an installation whose history is kept as it is.
KEPT=LiveUpdate.installationInfo=0

moment_start() {
  one_update "$1"
  MARK=${PLATFORM}_started STEP=400
}
moment_lock() {
  one_update "$1"
  # A process holding the lock, which goes with it when it is stopped.
  hold sh -c 'exec 9> "$1" && flock -x 9 && exec sleep 600' sh "$APP/.tvqlupd.lock"
  MARK="sleep 0.2" STEP=1000
}
moment_list() {
  publish "$1" TVQ2026-01-10 "$(file "$1" news.txt 100)"
  serve "$1" --stall '!update-info.txt'
  settings "LiveUpdate.www=$SITE"
  MARK="grep -q 'trying PRECONFIGURED' '$1/account.txt'" STEP=1000
}
moment_obsolete() {
  # Six updates older than the one recorded, dropped 400 ms apart.
  for day in 01 02 03 04 05; do publish "$1" "TVQ2026-01-$day" "$(file "$1" "n$day.txt" 100)"; done
  one_update "$1" 'LiveUpdate.lastUpdateInfo=<update id="TVQ2026-12-31">' "$KEPT"
  MARK="grep -q 'ignoring an obsolete update' '$1/account.txt'" STEP=300
}
moment_download() {
  publish "$1" TVQ2026-01-10 "$(file "$1" big.bin $((32 * 1048576)))"
  serve "$1" --rate 200000
  settings "LiveUpdate.www=$SITE"
  MARK="grep -q 'downloading file' '$1/account.txt'" STEP=500
}
moment_stalled() {
  publish "$1" TVQ2026-01-10 "$(file "$1" big.bin 1048576)"
  serve "$1" --stall big.bin
  settings "LiveUpdate.www=$SITE"
  MARK="grep -q 'downloading file' '$1/account.txt'" STEP=700
}
moment_retry() {
  # The third file does not match its listed checksum: it is tried five
  # times, 3.5 s apart.
  publish "$1" TVQ2026-01-10 "$(file "$1" a.bin 1000)" "$(file "$1" b.bin 1000)" "$(file "$1" c.bin 1000)"
  head -c 1000 /dev/zero > "$1/site/c.bin"
  use_site "$1"
  settings "LiveUpdate.www=$SITE"
  MARK="grep -q 'ERROR!' '$1/account.txt'" STEP=800
}
moment_busy() {
  printf 'new main application\n' > "$1/files/tvq.exe"
  publish "$1" TVQ2026-01-10 "$1/files/tvq.exe"
  use_site "$1"
  settings "LiveUpdate.www=$SITE"
  ${PLATFORM}_main_application "$1"
  # tvq.exe arrived; past the helper programs' waits (about 3 s), in the
  # 30 s wait for tvq.exe.
  MARK="grep -q ' OK!' '$1/account.txt'" DELAY=3500 STEP=1500
}
moment_nothing() {
  one_update "$1" 'LiveUpdate.lastUpdateInfo=<update id="TVQ2026-01-10">' "$KEPT"
  MARK="grep -q 'No new updates found' '$1/account.txt'" STEP=1000
}
moment_final() {
  one_update "$1"
  MARK="grep -q 'lastUpdateInfo=<update' '$APP/tvqlupd.INI'" STEP=1500
}

MOMENTS=${MOMENTS:-start lock list obsolete download stalled retry busy nothing final}
describe() {
  case $1 in
    start) echo "start delay" ;;
    lock) echo "wait for the run lock" ;;
    list) echo "list fetch, stalled site" ;;
    obsolete) echo "pauses after obsolete updates" ;;
    download) echo "download at 200 kB/s" ;;
    stalled) echo "download, stalled site" ;;
    retry) echo "retry pause (3.5 s)" ;;
    busy) echo "wait for a running tvq.exe" ;;
    nothing) echo "pause after no new update" ;;
    final) echo "end wait after installation" ;;
  esac
}

# The Linux program: sites are directories, tvq.exe a running executable.
linux_use_site() { SITE="file://$1/site/"; }
linux_main_application() {
  cp /bin/sleep "$APP/tvq.exe"
  hold "$APP/tvq.exe" 600
  sleep 0.2
}
linux_launch() {
  (cd "$1/temp" && TEMP="$1/temp" LANG=C exec $DEFAULT_SIGNALS "$APP/tvqlupd" "/Log=$1/account.txt" \
    2> "$1/console.txt") &
  PID=$!
}

# trial PLATFORM MOMENT N SIGNAL: one run; appends "moment ms consistency".
trial() {
  platform=$1 moment=$2 n=$3 sig=$4
  dir=$ROOT/$platform-$moment-$n
  APP=$dir/app
  mkdir -p "$dir/site" "$APP" "$dir/temp" "$dir/files"
  : > "$dir/account.txt"
  : > "$dir/console.txt"
  ${platform}_place "$dir"
  "moment_$moment" "$dir"
  snapshot "$APP" > "$dir/before"
  record_before=$(recorded)
  ${platform}_launch "$dir"
  waited=0
  until eval "$MARK" 2>/dev/null; do
    if ! alive "$PID" || [ $waited -ge 1200 ]; then break; fi
    sleep 0.05
    waited=$((waited + 1))
  done
  if ! alive "$PID"; then
    wait "$PID" || true
    release
    echo "$moment - ended-before-the-signal" >> "$RESULTS"
    return
  fi
  sleep "$(awk "BEGIN { print (${DELAY:-0} + ($n - 1) * $STEP) / 1000 }")"
  DELAY=
  # A run that does not answer is stopped after 120 s.
  (trap 'kill $s; exit' TERM; sleep 120 & s=$!; wait $s; kill -9 "$PID") >/dev/null 2>&1 &
  watchdog=$!
  ${platform}_aim
  t0=$(now_ms)
  ${platform}_cancel "$sig"
  wait "$PID" || true
  t1=$(now_ms)
  kill "$watchdog" 2>/dev/null || true
  wait "$watchdog" 2>/dev/null || true
  ${platform}_settle "$dir"
  release
  echo "$moment $((t1 - t0)) $(consistency "$dir" "$dir/before" "$record_before")" >> "$RESULTS"
}

linux_place() { cp "$PROGRAM" "$1/app/tvqlupd"; }
linux_started() { grep -q initializing "$dir/console.txt"; }
linux_aim() { :; }
linux_cancel() { kill "-$1" "$PID"; }
linux_settle() { :; }
use_site() { ${PLATFORM}_use_site "$@"; }

# measure PLATFORM SIGNALS: every moment, TRIALS times, the signals in turn.
measure() {
  PLATFORM=$1 signals=$2
  RESULTS=$ROOT/$1.results
  : > "$RESULTS"
  for moment in $MOMENTS; do
    n=1
    while [ $n -le "$TRIALS" ]; do
      sig=$(echo $signals | awk -v n="$n" '{ print $((n - 1) % NF + 1) }')
      trial "$PLATFORM" "$moment" "$n" "$sig"
      n=$((n + 1))
    done
  done
}

# report PLATFORM TITLE: median and max per moment.
report() {
  echo "$2"
  printf '  %-34s %5s %8s %8s  %s\n' "moment" "runs" "median" "max" "afterwards"
  for moment in $MOMENTS; do
    grep "^$moment " "$ROOT/$1.results" | awk -v title="$(describe "$moment")" '
      { n++; ms[n] = $2; state = state (state == "" ? "" : ",") $3 }
      END {
        if (n == 0) exit
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (ms[j] + 0 < ms[i] + 0) { t = ms[i]; ms[i] = ms[j]; ms[j] = t }
        split(state, s, ","); same = s[1]; for (i = 2; i <= n; i++) if (s[i] != same) same = state
        printf "  %-34s %5d %8s %8s  %s\n", title, n, ms[int((n + 1) / 2)], ms[n], same
      }'
  done
}

# The reference: timeout(1) running sleep, signalled and waited for alike.
reference() {
  sig=$1 best=
  for _ in 1 2 3; do
    timeout 600 sleep 600 &
    pid=$!
    sleep 0.2
    t0=$(now_ms)
    kill "-$sig" "$pid"
    { wait "$pid"; } 2>/dev/null || true
    t=$(($(now_ms) - t0))
    if [ -z "$best" ] || [ "$t" -gt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

if [ "${LINUX:-}" != 0 ]; then
  measure linux "TERM INT"
  report linux "Linux: signal to end of process, ms ($TRIALS runs per moment, SIGTERM and SIGINT in turn; $PROGRAM)"
fi
echo "  reference: timeout 600 sleep 600, worst of 3: SIGINT $(reference INT) ms, SIGTERM $(reference TERM) ms"

# The Windows build under Wine: a GUI program, which Wine gives no console
# when a Linux process starts it, so Ctrl-C does not reach it there. It runs
# in its window on a private Xvfb instead, and the window's Cancel is
# pressed (Escape, through xdotool, as the Wine window tests do) at the
# same moments but the lock's (another run would have to hold it), over
# HTTP, with tvq.exe a running Windows program.
[ "${WINE:-}" = 0 ] && { echo "Wine: not measured (WINE=0)"; exit 0; }
WINE=${WINE:-/usr/lib/wine/wine64}
WINE_EXE=${TVQLUPD_EXE:-$WINDOWS/tvqlupd.exe}
SLEEPER=$WINDOWS/tests/win_sleeper.exe
for f in "$WINE" "$WINE_EXE" "$SLEEPER" "$(command -v Xvfb)" "$(command -v xdotool)"; do
  [ -e "$f" ] || { echo "Wine: not measured (needs $WINE, $WINE_EXE, $SLEEPER, Xvfb, xdotool)"; exit 0; }
done
WINDOWS=$(cd "$WINDOWS" && pwd)
WINE_EXE=$(cd "$(dirname "$WINE_EXE")" && pwd)/$(basename "$WINE_EXE")
Xvfb -displayfd 9 -noreset -nolisten tcp -screen 0 1024x768x24 9> "$ROOT/display" >/dev/null 2>&1 &
XVFB=$!
i=0
while [ ! -s "$ROOT/display" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i + 1)); done
export DISPLAY=:$(cat "$ROOT/display")
# A prefix of its own, booted on this display: a prefix's desktop keeps the
# display it was started with.
export WINEPREFIX=$ROOT/wineprefix WINEDEBUG=-all
WINESERVER=$(dirname "$WINE")/wineserver
"$WINE" wineboot -i >/dev/null 2>&1
"$WINESERVER" -p 2>/dev/null || true
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

wine_place() { cp "$WINE_EXE" "$1/app/tvqlupd.exe"; }
wine_use_site() { [ -s "$1/port" ] || serve "$1"; }
wine_main_application() {
  cp "$SLEEPER" "$APP/tvq.exe"
  hold env LANG=C.UTF-8 "$WINE" "$APP/tvq.exe" "$(winpath "$1/stop")" "$(winpath "$1/started")"
  i=0
  while [ ! -e "$1/started" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
}
wine_launch() {
  (cd "$APP" && LANG=C.UTF-8 exec "$WINE" "$APP/tvqlupd.exe" "/Log=$(winpath "$1/account.txt")" \
    2> "$1/console.txt") &
  PID=$!
}
wine_window() { xdotool search --onlyvisible --name '^Zadovez$' 2>/dev/null | head -n 1; }
wine_started() { [ -n "$(wine_window)" ]; }
wine_aim() {
  XID=$(wine_window)
  i=0
  while [ -z "$XID" ] && [ $i -lt 50 ]; do sleep 0.05; XID=$(wine_window); i=$((i + 1)); done
}
wine_cancel() { xdotool key --window "$XID" Escape 2>/dev/null; }
# The sleeper ends when its stop file appears.
wine_settle() {
  touch "$1/stop"
  sleep 0.3
}

MOMENTS=${WINE_MOMENTS:-start list obsolete download stalled retry busy nothing final}
TRIALS=${WINE_TRIALS:-$TRIALS}
measure wine Escape
kill "$XVFB" 2>/dev/null || true
report wine "Wine: the window's Cancel (Escape) to end of process, ms ($TRIALS runs per moment; $WINE_EXE)"
echo "  (the private Xvfb has no window manager, as the Wine tests' displays have none)"
