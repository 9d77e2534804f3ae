#!/bin/bash
# Installs the kit's Debian packages as a user would (dpkg -i), builds and runs
# the consumer project against /usr through find_package and through
# pkg-config, runs wavtool from /usr/bin, then purges the packages again,
# also when a step fails.
#   run.sh <folder with the .deb files> <consumer source>
set -euo pipefail
debs=$1 src=$2
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" != 0 ] || ! command -v dpkg >/dev/null; then
  echo "SKIPPED: installing Debian packages needs root and dpkg"
  exit 0
fi
shopt -s nullglob
files=("$debs"/*.deb)
[ ${#files[@]} -gt 0 ] || { echo "no packages in $debs (make package)"; exit 1; }
names=$(for f in "${files[@]}"; do dpkg-deb -f "$f" Package; done)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kit-package.XXXXXX")
cleanup() {
  # shellcheck disable=SC2086
  dpkg --purge $names >"$scratch/purge.log" 2>&1 || { cat "$scratch/purge.log"; }
  rm -rf "$scratch"
}
trap cleanup EXIT

echo "== dpkg -i $(basename -a "${files[@]}" | tr '\n' ' ')"
dpkg -i "${files[@]}" >"$scratch/install.log" 2>&1 || { cat "$scratch/install.log"; exit 1; }
dpkg -s $names >/dev/null

echo "== wavtool from /usr/bin"
[ "$(command -v wavtool)" = /usr/bin/wavtool ] || { echo "wavtool is not /usr/bin/wavtool"; exit 1; }
/usr/bin/wavtool --help | head -n 1
man -w wavtool >/dev/null 2>&1 || [ -f /usr/share/man/man1/wavtool.1.gz ] || { echo "no manual page"; exit 1; }

unset CMAKE_PREFIX_PATH PKG_CONFIG_PATH
echo "== find_package against /usr"
cmake -S "$src" -B "$scratch/cmake" -DCMAKE_BUILD_TYPE=Release >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/cmake" >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log"; exit 1; }
"$scratch/cmake/consumer" "$scratch/a.wav"

echo "== pkg-config against /usr"
pkgs="covarne vornix tamblo"
# shellcheck disable=SC2046
c++ -std=c++17 -Wall -Wextra -o "$scratch/consumer-pc" "$src/consumer.cpp" $(pkg-config --cflags --libs $pkgs)
"$scratch/consumer-pc" "$scratch/b.wav"

if printf '%s\n' $names | grep -qx python3-audiokit; then
  echo "== the Python modules with the system's python3"
  (cd "$scratch" && env -u PYTHONPATH /usr/bin/python3 -I "$here/python_smoke.py" "$scratch")
fi

echo "== dpkg --purge"
trap - EXIT
# shellcheck disable=SC2086
dpkg --purge $names >"$scratch/purge.log" 2>&1 || { cat "$scratch/purge.log"; rm -rf "$scratch"; exit 1; }
for n in $names; do
  if dpkg-query -W -f='${Status}' "$n" 2>/dev/null | grep -q installed; then echo "$n is still installed"; exit 1; fi
done
left=$(ls -d /usr/lib/*/libcovarne* /usr/lib/*/libvornix* /usr/lib/*/libtamblo* /usr/bin/wavtool \
  /usr/lib/python3/dist-packages/{covarne,vornix,tamblo} 2>/dev/null || true)
rm -rf "$scratch"
[ -z "$left" ] || { echo "left after purge: $left"; exit 1; }
echo "the packages installed, built the consumer and purged cleanly"
