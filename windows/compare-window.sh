#!/usr/bin/env bash
# The window on two builds: each is started for a fresh copy of the bundled
# example's plug-in file, in a folder of its own whose name is Japanese; it
# loads the example's recording through its load button, makes the same
# cuts, lyrics and pitch line (melodrift --insert-demo) and presses Insert.
# The two plug-in files written must be the same bytes.
#
# The reference runs on Qt's offscreen platform. A tested command ending in
# .exe runs on Windows' own platform plug-in, through Wine on a virtual X
# display (xvfb-run), with Japanese fonts set up in its Wine prefix
# (windows/wine-fonts.sh); its paths are given as Windows paths (Z:\...).
# Each side's screen picture of the window is kept as window.png.
#
# Usage: windows/compare-window.sh OUT_DIR REFERENCE_WINDOW -- COMMAND...
set -euo pipefail

if [ $# -lt 4 ] || [ "$3" != "--" ]; then
    echo "usage: $0 OUT_DIR REFERENCE_WINDOW -- COMMAND..." >&2
    exit 2
fi
out="$1"
reference="$2"
shift 3
tested=("$@")
windows="$(cd "$(dirname "$0")" && pwd)"
here="$windows/../examples/demo"
[ -x "$reference" ] || { echo "$0: no reference program $reference" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
cuts=(150 450 690 930 1310 1640)

# run SIDE WINDOWS COMMAND...: the plug-in file and recording in $out/SIDE/録音.
run() {
    local side="$1" windows="$2"
    shift 2
    local folder="$out/$side/録音"
    mkdir -p "$folder"
    cp "$here/voice.wav" "$folder/voice.wav"
    path() { if [ "$windows" = 1 ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
    local voicedir
    voicedir="$(path "$(cd "$here/voicebank" && pwd)" | iconv -f UTF-8 -t CP932 | sed -e 's/[&\\|]/\\&/g')"
    sed -e "s|@VOICEBANK@|$voicedir|" "$here/plugin.tmp.in" > "$folder/plugin.tmp"
    # A window that stops on a message box would wait for ever: 5 minutes.
    timeout 300 "$@" --insert-demo "$(path "$folder/window.png")" "$(path "$folder/plugin.tmp")" \
        "$(path "$folder/voice.wav")" "${cuts[@]}" || { echo "$side: the window failed ($?)" >&2; return 1; }
}

# The window's settings (its size, the zoom) start from nothing on both sides.
XDG_CONFIG_HOME="$out/reference/config" QT_QPA_PLATFORM=offscreen run reference 0 "$reference"
case "${tested[-1]}" in
    *.exe)
        for arg in "${tested[@]}"; do
            case "$arg" in WINEPREFIX=*) "$windows/wine-fonts.sh" "${arg#WINEPREFIX=}" ;; esac
        done
        run tested 1 env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" "${tested[@]}"
        ;;
    *) run tested 0 "${tested[@]}" ;;
esac

a="$out/reference/録音/plugin.tmp"
b="$out/tested/録音/plugin.tmp"
if ! cmp "$a" "$b" >&2; then
    diff <(iconv -f CP932 -t UTF-8 "$a") <(iconv -f CP932 -t UTF-8 "$b") | head -n 20 >&2 || true
    exit 1
fi
echo "same bytes: plugin.tmp ($(wc -c < "$b") bytes, md5 $(md5sum < "$b" | cut -c1-32)); window: $out/tested/録音/window.png"
