#!/usr/bin/env bash
# FFTW 3 (double precision, the only one the analysis uses) for 64-bit
# Windows, built once from Debian's own source package with the MinGW-w64
# cross compiler into <folder>/fftw (static library, headers). Run again, it
# does nothing while <folder>/fftw/lib/libfftw3.a exists.
#
#   windows/build-fftw.sh <folder> [jobs]
set -euo pipefail
out="$(realpath -m "$1")"
jobs="${2:-2}"
prefix="$out/fftw"
if [ -f "$prefix/lib/libfftw3.a" ] && [ -f "$prefix/include/fftw3.h" ]; then
  exit 0
fi
. "$(dirname "$0")/deb-src.sh" fftw3

work="$out/fftw-source"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
apt-get source -qq fftw3 >/dev/null
src="$(find "$work" -maxdepth 1 -type d -name 'fftw3-*' | head -n 1)"
[ -n "$src" ] || { echo "build-fftw: apt-get source fftw3 gave no source folder" >&2; exit 1; }

mkdir -p "$work/build"
cd "$work/build"
# --with-our-malloc: MinGW has no posix_memalign/memalign, FFTW's own
# aligned allocator is used instead.
"$src/configure" --host=x86_64-w64-mingw32 --prefix="$prefix" \
  CC=x86_64-w64-mingw32-gcc-posix \
  --disable-shared --enable-static --enable-sse2 --enable-avx --with-our-malloc \
  --disable-fortran --disable-doc >configure.log 2>&1 \
  || { tail -n 40 configure.log; exit 1; }
make -j "$jobs" >make.log 2>&1 || { tail -n 40 make.log; exit 1; }
make install >install.log 2>&1 || { tail -n 40 install.log; exit 1; }
rm -rf "$work"
echo "build-fftw: $prefix/lib/libfftw3.a"
