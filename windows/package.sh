#!/usr/bin/env bash
# The Windows plug-in as users get it: a zip holding the folder melodrift/
# that they unpack into UTAU's (or OpenUtau's) plug-in folder.
#
#   windows/package.sh WINDOWS_BUILD ZIP
#
# melodrift/plugin.txt     Shift-JIS, CR LF: name= and execute=melodrift.exe
# melodrift/melodrift.exe, melodrift-cli.exe   the cross-built programs
# melodrift/readme.txt     Japanese, UTF-8 with a byte order mark, CR LF
#                          (Notepad reads it so on any Windows)
# melodrift/licenses/      the program's GPL-3, and what its .exe files
#                          carry: Qt (LGPL-3 / GPL), FFTW (GPL-2 or later),
#                          MinGW-w64's run-time (Debian's copyright files)
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 WINDOWS_BUILD ZIP" >&2; exit 2; }
build="$(cd "$1" && pwd)"
zip="$2"
root="$(cd "$(dirname "$0")/.." && pwd)"
version="$(sed -n 's/^project(Melodrift VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
folder="$stage/melodrift"
mkdir -p "$folder/licenses"
for file in src/app/plugin.txt src/app/melodrift.exe src/cli/melodrift-cli.exe; do
    [ -f "$build/$file" ] || { echo "$0: no $build/$file (make windows)" >&2; exit 1; }
    cp "$build/$file" "$folder/"
done
# x86_64-w64-mingw32-strip: the symbols are of no use to a user (about a
# third of the size).
x86_64-w64-mingw32-strip "$folder/melodrift.exe" "$folder/melodrift-cli.exe"

crlf() { sed -e 's/\r$//' -e 's/$/\r/'; }
{ printf '\357\273\277'; sed "s/@VERSION@/$version/" "$root/windows/readme-ja.txt" | crlf; } >"$folder/readme.txt"
licence() {  # licence SOURCE NAME
    [ -f "$1" ] || { echo "$0: no $1 (its Debian package is missing)" >&2; exit 1; }
    crlf <"$1" >"$folder/licenses/$2"
}
licence "$root/COPYING" COPYING.txt
licence /usr/share/common-licenses/LGPL-3 Qt-LGPL-3.txt
licence /usr/share/doc/libqt6core6/copyright Qt-copyright.txt
licence /usr/share/common-licenses/GPL-2 FFTW-GPL-2.txt
licence /usr/share/doc/libfftw3-dev/copyright FFTW-copyright.txt
licence /usr/share/doc/mingw-w64-common/copyright MinGW-w64-copyright.txt

mkdir -p "$(dirname "$zip")"
zip="$(cd "$(dirname "$zip")" && pwd)/$(basename "$zip")"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip melodrift)
echo "$zip"
