#!/usr/bin/env bash
# Qt 6 (qtbase: Core, Gui, Widgets, Test and the windows, offscreen and
# minimal platform plug-ins) for 64-bit Windows, cross-built once per machine
# from Debian's own source package with MinGW-w64, static, into a cache
# folder outside the clone:
#
#   ${MELODRIFT_CACHE:-$HOME/.cache/melodrift}/qt-windows-<Qt version>-<hash>
#
# where <hash> is the first 12 hex digits of this script's SHA-256, so a
# changed script builds afresh and an unchanged one is reused by every later
# build and CI run. Prints the install prefix on its last line; run again,
# it only prints it.
#
#   windows/build-qt.sh [jobs]
#
# Debian's qtbase source lacks src/3rdparty/wintab, so tablet events are off;
# with OpenGL off, Qt 6.4's Windows plug-in also needs dynamicgl off. Every
# third-party library (zlib, pcre2, harfbuzz, libpng, libjpeg, freetype,
# double-conversion, md4c) is Qt's bundled copy from the same source.
set -euo pipefail
jobs="${1:-2}"
here="$(cd "$(dirname "$0")" && pwd)"
hash="$(sha256sum "$here/build-qt.sh" | cut -c1-12)"
cache="${MELODRIFT_CACHE:-$HOME/.cache/melodrift}"
version="$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null | sed 's/[+~-].*//')"
[ -n "$version" ] || { echo "build-qt: qt6-base-dev-tools is not installed (make windows-deps)" >&2; exit 1; }
prefix="$cache/qt-windows-$version-$hash"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

. "$here/deb-src.sh" qt6-base

work="$cache/qt-windows-work-$hash"
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
# The host's Qt tools (moc, rcc, uic, syncqt) must be the same version as the
# source being built.
apt-get source -qq "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)" >/dev/null 2>&1 \
  || apt-get source -qq qt6-base >/dev/null
src="$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)"
[ -n "$src" ] || { echo "build-qt: apt-get source qt6-base gave no source folder" >&2; exit 1; }

cat >"$work/toolchain.cmake" <<'TOOLCHAIN'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN

mkdir -p "$work/build"
cd "$work/build"
start=$(date +%s)
cmake -S "$src" -B . -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DBUILD_SHARED_LIBS=OFF \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
  >configure.log 2>&1 || { tail -n 60 configure.log >&2; exit 1; }
cmake --build . -j "$jobs" >build.log 2>&1 || { tail -n 60 build.log >&2; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 60 install.log >&2; exit 1; }
echo "$(( $(date +%s) - start )) s on $(nproc) cores" >"$prefix/.build-seconds"
touch "$prefix/.complete"
cd /
rm -rf "$work"
echo "$prefix"
