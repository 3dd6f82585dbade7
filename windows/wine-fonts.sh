#!/usr/bin/env bash
# Gives a Wine prefix Japanese fonts from Debian's fonts-noto-cjk: the
# families Windows' Japanese user interface uses (and Qt's Windows font
# fallback asks for) are replaced by Noto Sans CJK JP, which Wine finds
# through fontconfig. Once per prefix (a marker file remembers it).
#
#   windows/wine-fonts.sh WINEPREFIX
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 WINEPREFIX" >&2; exit 2; }
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
marker="$WINEPREFIX/melodrift-japanese-fonts"
[ -f "$marker" ] && exit 0
# grep reads the whole list (no -q): stopping at the first match would end
# fc-list with SIGPIPE, which pipefail reports as a missing font.
fc-list | grep "Noto Sans CJK JP" >/dev/null || { echo "$0: no Noto Sans CJK JP (Debian: fonts-noto-cjk)" >&2; exit 1; }
wine=/usr/lib/wine/wine64
"$wine" wineboot --init >/dev/null 2>&1 || true
for family in "MS UI Gothic" "MS Gothic" "MS PGothic" "Meiryo" "Meiryo UI" "Yu Gothic" "Yu Gothic UI"; do
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$family" /t REG_SZ /d "Noto Sans CJK JP" /f >/dev/null 2>&1
done
/usr/lib/wine/wineserver -w
touch "$marker"
