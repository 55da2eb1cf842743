#!/bin/sh
# Times the file utilities against the system's tools on one large file, in
# one run: FileChecksum vs md5sum, CopyFileBuffered vs cp (and cp followed by
# a sync of the copy, since CopyFileBuffered flushes its copy to the disk
# before it renames it into place), FilesEqual vs cmp. Prints the best of
# RUNS wall times, the ratios and the peak memory of each, and the peak
# memory of our side on a small file, to show it does not grow with the size
# (PEAKS=0 leaves that out).
#
#   bench/fileutil_compare.sh [BUILD_DIR] [SIZE_MIB]    (defaults: build 256)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
size_mib=${2:-256}
runs=${RUNS:-3}
cli=$build/bench/fileops_cli
[ -x "$cli" ] || { echo "missing $cli: build the target fileops_cli first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (package time)" >&2; exit 2; }

. "$here/bench_lib.sh"
work=$ROOT

head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/data"
cp "$work/data" "$work/same"
head -c "$((16 * 1024 * 1024))" /dev/urandom > "$work/small"
cp "$work/small" "$work/small2"

# measure NAME COMMAND...: best wall time of $runs runs in seconds, and the
# largest peak resident set in KiB, as "SECONDS KIB". The copy target is
# removed before every run.
measure() {
  best=""
  rss=0
  i=0
  while [ "$i" -lt "$runs" ]; do
    rm -f "$work/target"
    cat "$work/data" "$work/same" > /dev/null # the same warm cache for everyone
    start=$(date +%s%N)
    /usr/bin/time -v -o "$work/time" "$@" > /dev/null || true
    end=$(date +%s%N)
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    r=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
    if [ "$r" -gt "$rss" ]; then rss=$r; fi
    i=$((i + 1))
  done
  echo "$best $rss"
}

seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

printf '%s MiB file, best of %s runs\n\n' "$size_mib" "$runs"
printf '%-34s %9s %9s %7s %10s %10s %8s\n' \
  "operation (ours vs tool)" "ours s" "tool s" "ratio" "ours KiB" "tool KiB" "target"

row() {
  label=$1 target=$2
  set -- $3 $4
  table_row "${label% vs *}, $size_mib MiB" "$(($1 / 1000000))" "${label#* vs }" "$(($3 / 1000000))" "$target"
  printf '%-34s %9s %9s %7s %10s %10s %8s\n' "$label" "$(seconds "$1")" "$(seconds "$3")" \
    "$(ratio "$1" "$3")" "$2" "$4" "$target"
}

ours=$(measure "$cli" checksum "$work/data")
tool=$(measure md5sum "$work/data")
row "FileChecksum vs md5sum" "<=2.0" "$ours" "$tool"
tool=$(measure cksum "$work/data")
row "FileChecksum vs cksum" "-" "$ours" "$tool"

ours=$(measure "$cli" copy "$work/data" "$work/target")
tool=$(measure cp "$work/data" "$work/target")
row "CopyFileBuffered vs cp" "<=1.5" "$ours" "$tool"
synced=$(measure sh -c 'cp "$1" "$2" && sync "$2"' sh "$work/data" "$work/target")
row "CopyFileBuffered vs cp + sync" "<=1.5" "$ours" "$synced"

ours=$(measure "$cli" equal "$work/data" "$work/same")
tool=$(measure cmp "$work/data" "$work/same")
row "FilesEqual vs cmp" "<=1.5" "$ours" "$tool"

[ "${PEAKS:-1}" = 1 ] || exit 0
printf '\npeak memory of ours, 16 MiB file vs %s MiB file (KiB)\n' "$size_mib"
for op in checksum copy equal; do
  case $op in
    checksum) small=$(measure "$cli" checksum "$work/small"); large=$(measure "$cli" checksum "$work/data") ;;
    copy) small=$(measure "$cli" copy "$work/small" "$work/target"); large=$(measure "$cli" copy "$work/data" "$work/target") ;;
    equal) small=$(measure "$cli" equal "$work/small" "$work/small2"); large=$(measure "$cli" equal "$work/data" "$work/same") ;;
  esac
  printf '%-10s %8s %8s\n' "$op" "${small#* }" "${large#* }"
done
