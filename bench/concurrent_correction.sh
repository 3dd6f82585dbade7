#!/usr/bin/env bash
# Two voice-correction Inserts of two recordings in one folder at the same
# time, ROUNDS times (default 100): after each round the folder's oto.ini must
# hold both recordings' entries, or a run must have failed with a message.
# Prints how many rounds kept both, how many had a run refused, and how many
# lost entries (a fault).
#
# Usage: bench/concurrent_correction.sh BUILD_DIR [ROUNDS]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
rounds="${2:-100}"
cli="$build/src/cli/melodrift-cli"
demo="$here/examples/demo"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/take"
voicedir="$(printf '%s' "$demo/voicebank" | iconv -f UTF-8 -t CP932 | sed -e 's/[&\\|]/\\&/g')"
for name in a b; do
    cp "$demo/voice.wav" "$work/take/$name.wav"
    "$cli" segment "$work/take/$name.wav" -o "$work/$name.mlq" --force \
        --cuts 150,450,690,930,1310,1640 --lyrics "R,か,き,く,け,こ,R" > /dev/null
done

both=0 refused=0 lost=0
for ((round = 1; round <= rounds; round++)); do
    rm -f "$work/take/oto.ini" "$work/take/"*.frq
    for name in a b; do sed -e "s|@VOICEBANK@|$voicedir|" "$demo/plugin.tmp.in" > "$work/$name.tmp"; done
    "$cli" insert "$work/a.tmp" --state "$work/a.mlq" --correction > /dev/null 2> "$work/a.err" & pa=$!
    "$cli" insert "$work/b.tmp" --state "$work/b.mlq" --correction > /dev/null 2> "$work/b.err" & pb=$!
    rca=0 rcb=0
    wait $pa || rca=$?
    wait $pb || rcb=$?
    hasA=0 hasB=0
    grep -q '^a\.wav=' "$work/take/oto.ini" 2>/dev/null && hasA=1
    grep -q '^b\.wav=' "$work/take/oto.ini" 2>/dev/null && hasB=1
    if [ $hasA = 1 ] && [ $hasB = 1 ]; then
        both=$((both + 1))
    elif { [ $rca != 0 ] && [ -s "$work/a.err" ] && [ $hasB = 1 ]; } || { [ $rcb != 0 ] && [ -s "$work/b.err" ] && [ $hasA = 1 ]; }; then
        refused=$((refused + 1))
    else
        lost=$((lost + 1))
        echo "round $round: a rc=$rca b rc=$rcb; oto.ini has a: $hasA, b: $hasB" >&2
    fi
done
echo "rounds: $rounds  both entries kept: $both  one run refused with a message: $refused  entries lost: $lost"
[ $lost = 0 ]
