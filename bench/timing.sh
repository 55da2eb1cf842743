# Shared by the benchmark scripts (sourced): timing helpers. Expects ROOT
# (the scratch directory, with out/ and maybe temp/) and RUNS.

now() { date +%s%N; }

# best_of <timed command>: prints the best wall time in ms; the command's
# last output line is kept in $ROOT/last.
best_of() {
  best=
  for _ in $(seq "$RUNS"); do
    rm -rf "$ROOT/out/"* "$ROOT/temp/"*
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
