#!/bin/sh
# The Debian package of a build holds the commands, their manual pages, the
# library and its one header; installed into a scratch root with dpkg -x, its
# qdesc runs from there and describes a file its qcreate made.
#   package.sh <build dir> <source dir>
set -eu
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$build" && cpack -G DEB -B "$tmp/out" > "$tmp/cpack.log") || { cat "$tmp/cpack.log"; exit 1; }
deb=$(ls "$tmp"/out/*.deb)
dpkg-deb --info "$deb" | grep -q 'Package: ismgr'
dpkg -x "$deb" "$tmp/root"
qdesc=$(find "$tmp/root" -path '*/bin/qdesc')
[ -n "$qdesc" ] || { echo "missing bin/qdesc"; exit 1; }
root=$(dirname "$(dirname "$qdesc")")
for f in bin/qdesc bin/qcreate bin/qinfo include/ismgr/ismgr.h share/man/man1/qdesc.1; do
  [ -f "$root/$f" ] || { echo "missing $f"; exit 1; }
done
ls "$root"/lib*/libismgr.* "$root"/lib*/*/libismgr.* 2>/dev/null | grep -q . || { echo "no library"; exit 1; }
[ "$(find "$root" -name '*.h' | wc -l)" -eq 1 ] || { echo "headers beyond ismgr.h"; exit 1; }
cd "$tmp"
"$root/bin/qcreate" "$src/examples/customer.xdl" customer
"$root/bin/qdesc" -x customer | grep -q '^FILE'
echo "package $(basename "$deb") installs and runs"
