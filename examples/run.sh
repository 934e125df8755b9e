#!/bin/sh
# Creates the example ISAM files from examples/*.xdl with qcreate in the
# build folder, then describes each with qdesc (PAR) and qdesc -x (XDL) when
# qdesc is built, and checks its index trees with qcheck -s when qcheck is.
build=${1:-build}
bin="$build"
if [ ! -x "$bin/qcreate" ]; then
  echo "qcreate is not built yet"
  exit 0
fi
out="$build/examples"
mkdir -p "$out"
here=$(pwd)
for xdl in examples/*.xdl; do
  [ -f "$xdl" ] || continue
  name=$(basename "$xdl" .xdl)
  (cd "$out" && "$here/$bin/qcreate" -r "$here/$xdl" "$name") || exit 1
  echo "==== $name: created $out/$name.ism"
  if [ -x "$bin/qdesc" ]; then
    echo "==== $name (PAR)"
    "$bin/qdesc" "$out/$name" || exit 1
    echo "==== $name (XDL)"
    "$bin/qdesc" -x "$out/$name" || exit 1
  fi
  if [ -x "$bin/qcheck" ]; then
    echo "==== $name (qcheck -s)"
    "$bin/qcheck" -s "$out/$name" || exit 1
  fi
done
