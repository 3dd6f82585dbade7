#!/usr/bin/env bash
# The whole job headless on the bundled example:
#   voice.wav      a spoken "かきくけこ" (made by make-recording.sh)
#   voicebank/     a small Shift-JIS voicebank (made by make-voicebank.sh)
#   plugin.tmp.in  a plug-in file as UTAU writes it, VoiceDir left open
# It cuts the recording into syllables with `segment`, then runs `insert`
# twice on fresh copies of the plug-in file: in trace mode (aliases from the
# voicebank, loudness envelopes, Mode2 pitch) and in voice correction mode
# (the recording becomes a voice source, Mode1 pitch). Everything it writes
# goes to BUILD_DIR/demo; the committed files are never changed.
#
# Usage: examples/demo/run.sh BUILD_DIR
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
cli="$build/src/cli/melodrift-cli"
if [ ! -x "$cli" ]; then
    echo "$0: $cli is not built (make build)" >&2
    exit 1
fi

out="$build/demo"
rm -rf "$out"
mkdir -p "$out/take"
# The recording is copied: voice correction mode writes oto.ini and the
# frequency table into the recording's folder.
cp "$here/voice.wav" "$out/take/voice.wav"

# A fresh plug-in file with the voicebank's absolute path (Shift-JIS, as the
# rest of the file).
plugin_file() {
    local voicedir
    voicedir="$(printf '%s' "$here/voicebank" | iconv -f UTF-8 -t CP932)"
    # The path goes in as a literal replacement: "&", "\" and "|" are escaped.
    voicedir="$(printf '%s' "$voicedir" | sed -e 's/[&\\|]/\\&/g')"
    sed -e "s|@VOICEBANK@|$voicedir|" "$here/plugin.tmp.in" > "$1"
}

# The inserted sections, as UTF-8 text for the terminal.
show() {
    echo "---- $1"
    iconv -f CP932 -t UTF-8 "$2" | tr -d '\r' | sed -e 's/^/    /'
}

echo "== segment: cuts at the syllable onsets, one lyric per segment"
"$cli" segment "$out/take/voice.wav" -o "$out/demo.mlq" --force \
    --cuts 150,450,690,930,1310,1640 --lyrics "R,か,き,く,け,こ,R"

echo
echo "== insert, trace mode (Mode2)"
plugin_file "$out/trace.tmp"
"$cli" insert "$out/trace.tmp" --state "$out/demo.mlq"
show "plug-in file after Insert" "$out/trace.tmp"

echo
echo "== insert, voice correction mode (Mode1)"
plugin_file "$out/correction.tmp"
"$cli" insert "$out/correction.tmp" --state "$out/demo.mlq" --correction --pitch-mode 1
show "plug-in file after Insert" "$out/correction.tmp"
show "oto.ini written beside the recording" "$out/take/oto.ini"
echo "---- frequency table: $(wc -c < "$out/take/voice_wav.frq") bytes in $out/take/voice_wav.frq"

# What a host will read: whole Lengths, values inside the hosts' ranges (PBY
# within +-204.7, Mode1 pitches within -2048..2047) and the largest bend at a
# note's start (the PBS value and the first PBY value, or the first Mode1
# pitch), in semitones.
check() {
    iconv -f CP932 -t UTF-8 "$2" | tr -d '\r' | awk -F= -v name="$1" '
        function abs(x) { return x < 0 ? -x : x }
        $1 == "Length" { notes++; if ($2 !~ /^[0-9]+$/) fractional++ }
        $1 == "PBS" { split($2, p, ";"); if (abs(p[2]) > 204.7) outside++; if (abs(p[2]) > start) start = abs(p[2]) }
        $1 == "PBY" { k = split($2, v, ",")
                      for (i = 1; i <= k; i++) if (abs(v[i]) > 204.7) outside++
                      if (abs(v[1]) > start) start = abs(v[1]) }
        $1 == "Pitches" { k = split($2, v, ","); for (i = 1; i <= k; i++) if (v[i] + 0 > 2047 || v[i] + 0 < -2048) outside++
                          if (abs(v[1]) / 10 > start) start = abs(v[1]) / 10 }
        END { printf "---- %s: %d notes, %d fractional Lengths, %d values outside the hosts\047 ranges, largest bend at a note\047s start %.1f semitones\n",
                     name, notes, fractional, outside, start / 10 }'
}

echo
echo "== checks on the written notes"
check "trace mode" "$out/trace.tmp"
check "voice correction mode" "$out/correction.tmp"
