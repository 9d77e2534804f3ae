#!/bin/sh
# Installs the kit from a build tree into a scratch prefix, then builds the
# consumer project against it twice, through its CMake packages and through
# pkg-config alone, and runs both programs.
#   run.sh <build tree> <consumer source> <cmake> <c++ compiler> [python]
set -eu
build=$1 src=$2 cmake=$3 cxx=$4 python=${5:-python3}
command -v pkg-config >/dev/null || { echo "pkg-config is not installed"; exit 77; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kit-consumer.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; exit 1; }
"$prefix/bin/wavtool" --help >/dev/null || { echo "the installed wavtool does not run"; exit 1; }
for so in libcovarne.so.1 libvornix.so.1 libtamblo.so.1; do
  lib=$(find "$prefix" -name "$so" | head -n 1)
  [ -n "$lib" ] || { echo "no $so installed"; exit 1; }
  objdump -p "$lib" | grep -q "SONAME *$so\$" || { echo "$so does not carry its SONAME"; exit 1; }
done

echo "== find_package"
CXX=$cxx "$cmake" -S "$src" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  >"$scratch/configure.log" || { cat "$scratch/configure.log"; exit 1; }
"$cmake" --build "$scratch/cmake" >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }
"$scratch/cmake/consumer" "$scratch/a.wav"

echo "== pkg-config"
export PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name covarne.pc)")"
pkgs="covarne vornix tamblo"
libdir=$(pkg-config --variable=libdir covarne)
# shellcheck disable=SC2046
"$cxx" -std=c++17 -Wall -Wextra -o "$scratch/consumer-pc" "$src/consumer.cpp" \
  $(pkg-config --cflags $pkgs) $(pkg-config --libs $pkgs) -Wl,-rpath,"$libdir"
"$scratch/consumer-pc" "$scratch/b.wav"

# The Python modules, when built: imported from the prefix, finding their
# libraries there (no LD_LIBRARY_PATH).
typed=$(find "$prefix" -name py.typed | sort)
if [ -n "$typed" ]; then
  echo "== Python modules"
  for t in $typed; do
    pkg=$(dirname "$t")
    PYTHONPATH=$(dirname "$pkg") "$python" -c "import sys, $(basename "$pkg") as m; \
assert m.__file__.startswith(sys.argv[1]), m.__file__; print(m.__name__, 'from', m.__file__)" "$prefix"
  done
fi
