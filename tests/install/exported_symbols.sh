#!/bin/sh
# The shared library exports exactly the functions its public header
# declares (ISMGR_API), nothing of the layers or of the C++ runtime.
#   exported_symbols.sh <libismgr.so> <ismgr.h>
set -eu
lib=$1
header=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Declared: the name before "(" on every ISMGR_API line.
grep '^ISMGR_API' "$header" | sed -E 's/^.*[ *](ismgr_[a-z_]+)\(.*$/\1/' | sort -u > "$tmp/declared"
# Exported: defined dynamic symbols, version node and version suffix dropped.
nm -D --defined-only "$lib" | awk '$2 != "A" { sub(/@.*/, "", $3); print $3 }' | sort -u \
  > "$tmp/exported"
[ -s "$tmp/declared" ] || { echo "no declarations found in $header"; exit 1; }
if ! diff -u "$tmp/declared" "$tmp/exported"; then
  echo "exported symbols differ from the public header (-declared +exported)"
  exit 1
fi
echo "$(wc -l < "$tmp/exported") exported symbols, all declared in $header"
