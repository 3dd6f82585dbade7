#!/usr/bin/env bash
# Regenerates the demo recording, voice.wav: a short spoken Japanese phrase
# ("かきくけこ") from the espeak-ng speech synthesiser, resampled to 44100 Hz,
# 16-bit, mono with sox. Needs the Debian packages espeak-ng and sox; the
# output is committed, so building the demo does not need them.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Slow speech (words per minute) and a fixed base pitch keep the syllables
# long enough to cut by hand.
espeak-ng -v ja -s 90 -p 45 -w "$tmp/raw.wav" "かきくけこ"
# -D: no dither, so the conversion gives the same bytes on every run.
# The synthesiser ends with a long pause; it is cut off (reverse, drop the
# leading silence, reverse back); 0.1 s of silence goes before, 0.2 s after.
sox -D "$tmp/raw.wav" -r 44100 -b 16 -c 1 "$here/voice.wav" \
    gain -n -3 reverse silence 1 0.01 0.1% reverse pad 0.1 0.2
