#!/bin/sh
# The tree check against the cost of reading its index file: qcheck on a
# populated index of MEGABYTES (default 220) with a warm page cache, set
# against `cat` of the same index file to /dev/null, and how qcheck's peak
# memory grows with the number of records.
#
#   sh bench/qcheck_big.sh [BUILD_DIR] [MEGABYTES] [ROUNDS]
#
# With QCHECK_BEFORE set to another qcheck (say, a build of the previous
# commit), that one joins the rounds too, for a before and after in one run.
#
# BUILD_DIR (default build) must hold a built qcheck and libismgr.a. The
# companions bench/qcheck_make.cpp (the file, made with the tests' loader)
# and bench/qcheck_time.cpp (one timed run) are compiled here.
#
# The two commands run in turn, ROUNDS (default 9) times each, so that a
# change in the machine's load falls on both; each one's best elapsed and
# best processor time count. The judged figure is the elapsed-time ratio
# (what a user waits for); the processor-time ratio is printed beside it,
# since on a busy machine elapsed time also measures waiting for a core.
# The last line holds the ratio, the peak memory and the bytes per record:
# the growth of peak memory from a file of about 1 MB to this one, divided
# by the growth in records (the process's fixed memory left out).
set -eu

build=$(cd "${1:-build}" && pwd)
megabytes=${2:-220}
rounds=${3:-9}
src=$(cd "$(dirname "$0")/.." && pwd)
qcheck="$build/qcheck"
[ -x "$qcheck" ] || { echo "qcheck_big: no $qcheck (run make first)" >&2; exit 2; }
[ -f "$build/libismgr.a" ] || { echo "qcheck_big: no $build/libismgr.a" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qcheck_big.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
${CXX:-g++} -std=c++20 -O2 -I"$src" -I"$src/tests" -o "$work/qcheck_make" \
  "$src/bench/qcheck_make.cpp" "$src/tests/support/tree_loader.cpp" \
  "$src/tests/support/index_tree_builder.cpp" \
  "$src/tests/support/isam_builder.cpp" \
  "$build/libismgr.a"
${CXX:-g++} -std=c++20 -O2 -o "$work/qcheck_time" "$src/bench/qcheck_time.cpp"
made=$("$work/qcheck_make" "$work/big" "$megabytes")
records=${made%% records*}
small=$("$work/qcheck_make" "$work/small" 1)
small_records=${small%% records*}
echo "file: $made"

# One run: "wall cpu rss" of "$@" with its output to $work/out (cat's to
# /dev/null); exit status 1 (problems found) is no failure.
run() {
  out="$work/out"
  [ "$1" != cat ] || out=/dev/null
  "$work/qcheck_time" "$out" "$@" 2>"$work/err" || {
    rc=$?
    [ "$rc" = 1 ] || { echo "qcheck_big: $* failed ($rc):" >&2; cat "$work/err" "$work/out" >&2; exit 1; }
  }
}
"$qcheck" "$work/big" >"$work/out" || true
grep -q ': sound$' "$work/out" || { echo "qcheck_big: the file is not sound:" >&2; cat "$work/out" >&2; exit 1; }
set -- $(run "$qcheck" "$work/small"); small_rss=$3
cat "$work/big.ism" "$work/big.is1" >/dev/null  # warm the page cache

# Alternating rounds; a file per command collects its "wall cpu rss" lines.
: >"$work/cat.times"
: >"$work/qcheck.times"
: >"$work/before.times"
before=${QCHECK_BEFORE:-}
i=0
while [ "$i" -lt "$rounds" ]; do
  run cat "$work/big.ism" >>"$work/cat.times"
  run "$qcheck" "$work/big" >>"$work/qcheck.times"
  [ -z "$before" ] || run "$before" "$work/big" >>"$work/before.times"
  i=$((i + 1))
done
best() { sort -n -k"$2" "$1" | awk -v k="$2" 'NR == 1 { print $k }'; }
cat_wall=$(best "$work/cat.times" 1); cat_cpu=$(best "$work/cat.times" 2)
check_wall=$(best "$work/qcheck.times" 1); check_cpu=$(best "$work/qcheck.times" 2)
cat_rss=$(sort -n -k3 "$work/cat.times" | tail -1 | awk '{ print $3 }')
check_rss=$(sort -n -k3 "$work/qcheck.times" | tail -1 | awk '{ print $3 }')
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
printf 'best of %s, alternating, warm cache, index %s\n' "$rounds" "$(wc -c <"$work/big.ism") bytes"
printf '%-8s %8s %6s %8s %6s %13s\n' run "wall s" ratio "cpu s" ratio "peak RSS KiB"
printf '%-8s %8s %6s %8s %6s %13s\n' cat "$cat_wall" 1.00 "$cat_cpu" 1.00 "$cat_rss"
printf '%-8s %8s %6s %8s %6s %13s\n' qcheck "$check_wall" "$(ratio "$check_wall" "$cat_wall")" \
  "$check_cpu" "$(ratio "$check_cpu" "$cat_cpu")" "$check_rss"
if [ -n "$before" ]; then
  printf '%-8s %8s %6s %8s %6s %13s\n' before "$(best "$work/before.times" 1)" \
    "$(ratio "$(best "$work/before.times" 1)" "$cat_wall")" "$(best "$work/before.times" 2)" \
    "$(ratio "$(best "$work/before.times" 2)" "$cat_cpu")" \
    "$(sort -n -k3 "$work/before.times" | tail -1 | awk '{ print $3 }')"
fi
awk -v w="$(ratio "$check_wall" "$cat_wall")" -v c="$(ratio "$check_cpu" "$cat_cpu")" \
  -v r="$check_rss" -v s="$small_rss" -v n="$records" -v m="$small_records" 'BEGIN {
  printf "qcheck/cat elapsed %s (cpu %s); qcheck peak RSS %d KiB, %.1f bytes/record (%.1f above the fixed %d KiB)\n",
    w, c, r, r * 1024 / n, (r - s) * 1024 / (n - m), s }'
