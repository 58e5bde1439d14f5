#!/bin/sh
# Install the library component into a fresh prefix, build a Fortran program
# against it with the .pc file, run it and check the file it writes.
# Arguments: build dir, Fortran compiler, source dir, extra flags (optional).
set -eu
build=$1 fc=$2 src=$3 extra=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --component fendral --prefix "$work/prefix" >/dev/null
pc=$(find "$work/prefix" -name fendral.pc)
test -n "$pc"
export PKG_CONFIG_PATH=$(dirname "$pc")
for m in xdr_files io_units precisn; do
  test -f "$work/prefix/include/fendral/$m.mod"
done

cd "$work"
# shellcheck disable=SC2046,SC2086
"$fc" $extra "$src/outside_program.f90" $(pkg-config --cflags fendral) \
  $(pkg-config --static --libs fendral) -o outside_program
./outside_program
# 17, 0.125, then the counted array 1 2 3.
expected=00000011''3fc0000000000000''00000003''00000001''00000002''00000003
test "$(od -An -v -tx1 outside.xdr | tr -d ' \n')" = "$expected"
echo "installed library usable from outside"
