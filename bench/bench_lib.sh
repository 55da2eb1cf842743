# Shared by the benchmark scripts (sourced): a scratch directory removed at
# exit, no proxies, a site server, and best-of-RUNS timing.
#   CLI    the transfer_bench_cli program (set before start_server)
#   RUNS   how many runs each time is the best of (default 5)
RUNS=${RUNS:-5}
ROOT=$(mktemp -d "${TMPDIR:-/tmp}/tvqbench-XXXXXX")
SERVER=
cleanup() {
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null || true
  rm -rf "$ROOT"
}
trap cleanup EXIT INT TERM
# No proxy takes part, for curl and for the updater alike.
unset http_proxy https_proxy all_proxy HTTPS_PROXY ALL_PROXY no_proxy NO_PROXY || true

# start_server DIR: serves DIR on 127.0.0.1; sets BASE to its address.
start_server() {
  "$CLI" serve "$1" "$ROOT/port" &
  SERVER=$!
  i=0
  while [ ! -s "$ROOT/port" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  BASE=http://127.0.0.1:$(cat "$ROOT/port")/
}

now() { date +%s%N; }

# best_of <timed command> [setup command]: prints the best wall time in ms;
# the command's output is kept in $ROOT/last. $ROOT/out and $ROOT/temp are
# emptied and the setup command run (untimed) before every run.
best_of() {
  best=
  for _ in $(seq "$RUNS"); do
    rm -rf "$ROOT/out/"* "$ROOT/temp/"*
    eval "${2:-}"
    sync  # the last run's writes are not flushed during this one
    t0=$(now)
    eval "$1" > "$ROOT/last" 2>&1 || { echo "failed: $1" >&2; cat "$ROOT/last" >&2; exit 1; }
    t1=$(now)
    t=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}
ratio() { awk "BEGIN { printf \"%.2f\", $1 / ($2 > 0 ? $2 : 1) }"; }

# best_inner <timed command> [setup command]: like best_of, but the time is the one the
# command reports itself (its "ms=" figure), so a process start (Wine's
# above all) is not counted. Prints whole milliseconds.
best_inner() {
  best=
  for _ in $(seq "$RUNS"); do
    rm -rf "$ROOT/out/"* "$ROOT/temp/"*
    eval "${2:-}"
    sync
    eval "$1" > "$ROOT/last" 2>&1 || { echo "failed: $1" >&2; cat "$ROOT/last" >&2; exit 1; }
    t=$(tr ' \r' '\n\n' < "$ROOT/last" | sed -n 's/^ms=\([0-9]*\).*/\1/p' | head -n 1)
    [ -n "$t" ] || { echo "no ms= figure from: $1" >&2; exit 1; }
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

# table_row FIGURE OURS_MS REFERENCE REFERENCE_MS GOAL: one row of the table
# that bench/run_all.sh prints; nothing when no table was asked for.
table_row() {
  [ -n "${BENCH_TABLE:-}" ] || return 0
  printf '%s|%s|%s|%s|%s\n' "$@" >> "$BENCH_TABLE"
}

# updater_at COMMIT: the path of tvqlupd built at COMMIT of $REPO and
# stripped, kept in $BUILD/bench/patch-pairs (built once, from the commit's
# files alone; a few minutes).
updater_at() {
  hash=$(git -C "$REPO" rev-parse --verify -q "$1^{commit}") || { echo "no commit $1 in $REPO" >&2; return 1; }
  kept=$BUILD/bench/patch-pairs/$hash
  if [ ! -f "$kept/tvqlupd" ]; then
    echo "building tvqlupd at $hash (once; kept in $kept)" >&2
    src=$ROOT/source-$hash
    mkdir -p "$src" "$kept"
    git -C "$REPO" archive "$hash" | tar -x -C "$src"
    cmake -S "$src" -B "$src/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVQ_TESTS=OFF \
      -DTVQ_BENCH=OFF -DTVQ_REPRODUCIBLE=ON > "$src/build.log" 2>&1 &&
      cmake --build "$src/build" -j2 --target tvqlupd >> "$src/build.log" 2>&1 ||
      { tail -n 20 "$src/build.log" >&2; echo "tvqlupd at $hash does not build" >&2; return 1; }
    objcopy --strip-all "$src/build/tvqlupd" "$kept/tvqlupd"
    rm -rf "$src"
  fi
  echo "$kept/tvqlupd"
}

# data_pair BASE RESULT: SIZE_MB MiB of random bytes, and a copy with 1 % of
# its 4 KiB blocks replaced by other random bytes.
data_pair() {
  head -c $((SIZE_MB * 1048576)) /dev/urandom > "$1"
  cp "$1" "$2"
  blocks=$((SIZE_MB * 256))
  for block in $(shuf -i 0-$((blocks - 1)) -n $((blocks / 100))); do
    dd if=/dev/urandom of="$2" bs=4096 seek="$block" count=1 conv=notrunc status=none
  done
}


# measure_updater_pair: the caller's measure on tvqlupd built at PATCH_OLD
# (default HEAD~20) and PATCH_NEW (default HEAD).
measure_updater_pair() {
  OLD=${PATCH_OLD:-HEAD~20}
  NEW=${PATCH_NEW:-HEAD}
  if old=$(updater_at "$OLD") && new=$(updater_at "$NEW"); then
    measure updater "tvqlupd $OLD -> $NEW" "$old" "$new"
  else
    echo "tvqlupd $OLD -> $NEW: not measured (see above)"
  fi
}
