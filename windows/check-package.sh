#!/usr/bin/env bash
# Unpacks the Windows package into a folder named like UTAU's plug-in folder
# and checks what a user gets: the file layout, plugin.txt's exact bytes
# (Shift-JIS, CR LF) naming an executable that is there, readme.txt as UTF-8
# with a byte order mark and CR LF, and .exe files that import only DLLs
# every Windows has (no MinGW or Qt DLL to ship beside them).
#
#   windows/check-package.sh ZIP SCRATCH_DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 ZIP SCRATCH_DIR" >&2; exit 2; }
zip="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
plugins="$2/plugins"
rm -rf "$plugins"
mkdir -p "$plugins"
(cd "$plugins" && cmake -E tar xf "$zip")
folder="$plugins/melodrift"
status=0
fail() { echo "package: $*" >&2; status=1; }

expected="licenses/COPYING.txt licenses/FFTW-GPL-2.txt licenses/FFTW-copyright.txt licenses/MinGW-w64-copyright.txt licenses/Qt-LGPL-3.txt licenses/Qt-copyright.txt melodrift-cli.exe melodrift.exe plugin.txt readme.txt"
found="$(cd "$plugins" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')"
want="$(for f in $expected; do echo "melodrift/$f"; done | LC_ALL=C sort | tr '\n' ' ')"
[ "$found" = "$want" ] || fail "files are: $found; expected: $want"

# "name=" メロドリフト (CP932) CR LF "execute=melodrift.exe" CR LF
plugin="$(od -An -v -tx1 "$folder/plugin.txt" | tr -d ' \n')"
[ "$plugin" = "6e616d653d8381838d8368838a837483670d0a657865637574653d6d656c6f64726966742e6578650d0a" ] \
    || fail "plugin.txt is $plugin"
[ "$(iconv -f CP932 -t UTF-8 "$folder/plugin.txt" | head -n 1 | tr -d '\r')" = "name=メロドリフト" ] \
    || fail "plugin.txt does not read as Shift-JIS"
exe="$(sed -n 's/^execute=\(.*\)\r$/\1/p' "$folder/plugin.txt")"
[ -n "$exe" ] && [ -f "$folder/$exe" ] || fail "plugin.txt names \"$exe\", which is not in the folder"

readme="$folder/readme.txt"
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' \n')" = "efbbbf" ] || fail "readme.txt has no UTF-8 byte order mark"
iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null 2>&1 || fail "readme.txt is not UTF-8"
[ "$(grep -c $'\r$' "$readme")" = "$(grep -c '' "$readme")" ] || fail "readme.txt has lines without CR LF"
for text in インストール plugins アンインストール 挿入 GNU; do
    grep -q "$text" "$readme" || fail "readme.txt does not mention $text"
done
grep -q "GNU GENERAL PUBLIC LICENSE" "$folder/licenses/COPYING.txt" && grep -q "Version 3" "$folder/licenses/COPYING.txt" \
    || fail "licenses/COPYING.txt is not the GPL-3"

# DLLs that come with every Windows (and Wine).
system_dlls=" advapi32.dll bcrypt.dll comdlg32.dll d3d11.dll d3d9.dll dwmapi.dll dwrite.dll dxgi.dll gdi32.dll \
imm32.dll kernel32.dll msvcrt.dll netapi32.dll ole32.dll oleaut32.dll setupapi.dll shell32.dll shlwapi.dll user32.dll \
userenv.dll uxtheme.dll version.dll winmm.dll ws2_32.dll wtsapi32.dll authz.dll mpr.dll normaliz.dll shcore.dll "
for program in melodrift.exe melodrift-cli.exe; do
    imports="$(x86_64-w64-mingw32-objdump -p "$folder/$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)"
    [ -n "$imports" ] || fail "$program: no import table"
    for dll in $imports; do
        # api-ms-win-*: Windows' API sets (Windows 8 and later).
        case "$dll" in api-ms-win-*) continue ;; esac
        case "$system_dlls" in *" $dll "*) ;; *) fail "$program imports $dll, which Windows does not have" ;; esac
    done
    echo "$program ($(wc -c <"$folder/$program") bytes) imports: $(echo $imports)"
done
exit $status
