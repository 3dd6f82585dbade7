#!/usr/bin/env bash
# The bundled example (examples/demo) through two builds of melodrift-cli,
# each in a folder of its own whose name is Japanese: `segment`, then
# `insert` in trace mode and in voice correction mode on fresh copies of
# the plug-in file. Every file written must be the same bytes in both: the
# analysis listing (every frame's loudness, pitch and candidates, with all
# the digits the program writes), the two plug-in files, oto.ini, the
# frequency table, and the edit state but for its line naming the recording
# (a path, different by nature).
#
# Usage: windows/compare-cli.sh OUT_DIR REFERENCE_CLI -- COMMAND...
#   COMMAND runs the build under test, e.g. through Wine:
#   env WINEPREFIX=... /usr/lib/wine/wine64 build/.../melodrift-cli.exe
# A command ending in .exe gets its paths as Windows paths (Z:\...).
set -euo pipefail

if [ $# -lt 4 ] || [ "$3" != "--" ]; then
    echo "usage: $0 OUT_DIR REFERENCE_CLI -- COMMAND..." >&2
    exit 2
fi
out="$1"
reference="$2"
shift 3
tested=("$@")
here="$(cd "$(dirname "$0")/.." && pwd)/examples/demo"
[ -x "$reference" ] || { echo "$0: no reference program $reference" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# run SIDE WINDOWS COMMAND...: the whole job in $out/SIDE/録音.
run() {
    local side="$1" windows="$2"
    shift 2
    local folder="$out/$side/録音"
    mkdir -p "$folder"
    cp "$here/voice.wav" "$folder/voice.wav"
    # A path as the program sees it: Wine shows the machine's root as Z:.
    path() { if [ "$windows" = 1 ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
    local voicedir
    voicedir="$(path "$here/voicebank" | iconv -f UTF-8 -t CP932 | sed -e 's/[&\\|]/\\&/g')"
    for mode in trace correction; do
        sed -e "s|@VOICEBANK@|$voicedir|" "$here/plugin.tmp.in" > "$folder/$mode.tmp"
    done
    "$@" analyze "$(path "$folder/voice.wav")" -o "$(path "$folder/analysis.csv")"
    "$@" segment "$(path "$folder/voice.wav")" -o "$(path "$folder/demo.mlq")" --force \
        --cuts 150,450,690,930,1310,1640 --lyrics "R,か,き,く,け,こ,R" >/dev/null
    "$@" insert "$(path "$folder/trace.tmp")" --state "$(path "$folder/demo.mlq")" >/dev/null
    "$@" insert "$(path "$folder/correction.tmp")" --state "$(path "$folder/demo.mlq")" \
        --correction --pitch-mode 1 >/dev/null
}

windows=0
case "${tested[-1]}" in *.exe) windows=1 ;; esac
run reference 0 "$reference"
run tested "$windows" "${tested[@]}"

status=0
for file in analysis.csv trace.tmp correction.tmp oto.ini voice_wav.frq demo.mlq; do
    a="$out/reference/録音/$file"
    b="$out/tested/録音/$file"
    if [ ! -f "$b" ]; then
        echo "missing: $b" >&2
        status=1
        continue
    fi
    if [ "$file" = demo.mlq ]; then
        grep -a -q '^WaveFile=' "$b" || { echo "no WaveFile line in $b" >&2; status=1; }
        if ! cmp -s <(grep -a -v '^WaveFile=' "$a") <(grep -a -v '^WaveFile=' "$b"); then
            echo "different: $file (besides WaveFile)" >&2
            diff <(grep -a -v '^WaveFile=' "$a") <(grep -a -v '^WaveFile=' "$b") | head -n 20 >&2 || true
            status=1
        fi
    elif ! cmp "$a" "$b" >&2; then
        status=1
    fi
    [ $status -eq 0 ] && echo "same bytes: $file ($(wc -c < "$b") bytes, md5 $(md5sum < "$b" | cut -c1-32))"
done
exit $status
