#!/bin/sh
# The tree check against the cost of reading its index file: qcheck on a
# populated index of MEGABYTES (default 220) with a warm page cache, set
# against `cat` of the same index file to /dev/null, and qcheck's peak
# memory against the number of records.
#
#   sh bench/qcheck_big.sh [BUILD_DIR] [MEGABYTES]
#
# BUILD_DIR (default build) must hold a built qcheck and libismgr.a. The
# companion bench/qcheck_make.cpp is compiled here with the tests' loader.
set -eu

build=$(cd "${1:-build}" && pwd)
megabytes=${2:-220}
src=$(cd "$(dirname "$0")/.." && pwd)
qcheck="$build/qcheck"
[ -x "$qcheck" ] || { echo "qcheck_big: no $qcheck (run make first)" >&2; exit 2; }
[ -f "$build/libismgr.a" ] || { echo "qcheck_big: no $build/libismgr.a" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qcheck_big.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
${CXX:-g++} -std=c++20 -O2 -I"$src" -I"$src/tests" -o "$work/qcheck_make" \
  "$src/bench/qcheck_make.cpp" "$src/tests/support/tree_loader.cpp" \
  "$src/tests/support/index_tree_builder.cpp" \
  "$src/tests/support/isam_builder.cpp" "$src/tests/support/child_process.cpp" \
  "$build/libismgr.a"
made=$("$work/qcheck_make" "$work/big" "$megabytes")
records=${made%% records*}
echo "file: $made"
cat "$work/big.ism" "$work/big.is1" >/dev/null  # warm the page cache

# "wall cpu" seconds of one run of "$@" (cpu = user + system), output kept in
# $work/out; its peak RSS (KiB) goes to $work/rss. On a busy machine the wall
# time mostly measures waiting for a processor: the cpu time tells more.
# With perf installed the cpu time is its task clock (milliseconds exact),
# else the 10 ms ticks of time(1).
measure() {
  set -- /usr/bin/time -f '%M %U %S' -o "$work/time" "$@"
  if command -v perf >/dev/null 2>&1; then
    set -- perf stat -x, -e task-clock -o "$work/perf" -- "$@"
  fi
  t0=$(date +%s%N)
  "$@" >"$work/out" 2>"$work/err" || {
    rc=$?
    [ "$rc" = 1 ] || { echo "qcheck_big: $1 failed ($rc):" >&2; cat "$work/err" "$work/out" >&2; exit 1; }
  }
  t1=$(date +%s%N)
  read -r rss user sys <"$work/time"
  echo "$rss" >"$work/rss"
  if [ -f "$work/perf" ]; then
    user=$(awk -F, '/task-clock/ { printf "%.4f", $1 / 1000 }' "$work/perf")
    sys=0
  fi
  awk -v a="$t0" -v b="$t1" -v u="$user" -v s="$sys" 'BEGIN { printf "%.4f %.4f", (b - a) / 1e9, u + s }'
}
# Best of seven.
best() {
  b=""
  for _ in 1 2 3 4 5 6 7; do
    m=$(measure "$@")
    if [ -z "$b" ] || [ "$(echo "$m $b" | awk '{ print ($1 < $3) }')" = 1 ]; then
      b=$m
      cp "$work/rss" "$work/best_rss"
    fi
  done
  echo "$b"
}
set -- $(best cat "$work/big.ism"); cat_secs=$1; cat_cpu=$2; cat_rss=$(cat "$work/best_rss")
set -- $(best "$qcheck" "$work/big"); check_secs=$1; check_cpu=$2; check_rss=$(cat "$work/best_rss")
grep -q ': sound$' "$work/out" || { echo "qcheck_big: the file is not sound:" >&2; cat "$work/out" >&2; exit 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
printf '%-10s %8s %6s %6s %6s %13s\n' run wall ratio cpu ratio "peak RSS KiB"
printf '%-10s %8s %6s %6s %6s %13s\n' cat "$cat_secs" 1.00 "$cat_cpu" 1.00 "$cat_rss"
printf '%-10s %8s %6s %6s %6s %13s\n' qcheck "$check_secs" "$(ratio "$check_secs" "$cat_secs")" \
  "$check_cpu" "$(ratio "$check_cpu" "$cat_cpu")" "$check_rss"
awk -v r="$check_rss" -v n="$records" 'BEGIN { printf "qcheck peak memory per record: %.1f bytes\n", r * 1024 / n }'
