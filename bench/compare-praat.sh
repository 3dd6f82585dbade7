#!/usr/bin/env bash
# Melodrift's commands against Praat's "To Pitch (ac)" on the same generated
# take, in one run, so that the ratios hold however loaded the machine is.
#
#   bench/compare-praat.sh BUILD_DIR [SECONDS] [RUNS]
#
# SECONDS (default 600) of a voice-like take from make_long_take; RUNS
# (default 3) rounds, each timing in turn: `melodrift-cli analyze` (CSV to a
# file), `segment --auto`, `insert` (trace mode, into a copy of the demo's
# plug-in file) and Praat reading the file and running To Pitch (ac) with
# time step 256/44100 s, floor 50 Hz, ceiling 900 Hz, its other settings at
# their defaults. Times are wall-clock seconds of the whole process (reading
# the recording included on both sides); each round prints Praat's time over
# each command's, and the end the medians. Needs praat and GNU time
# (`make bench-deps`).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: $0 BUILD_DIR [SECONDS] [RUNS]" >&2
    exit 2
fi
build="$(cd "$1" && pwd)"
seconds="${2:-600}"
runs="${3:-3}"
here="$(cd "$(dirname "$0")" && pwd)"
cli="$build/src/cli/melodrift-cli"
maker="$build/bench/make_long_take"
for tool in "$cli" "$maker"; do
    if [ ! -x "$tool" ]; then
        echo "$0: $tool is not built (make build)" >&2
        exit 1
    fi
done
for tool in praat /usr/bin/time; do
    if ! command -v "$tool" > /dev/null; then
        echo "$0: $tool is missing (make bench-deps)" >&2
        exit 1
    fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
take="$work/take.wav"
"$maker" "$seconds" "$take"

cat > "$work/pitch.praat" <<'PRAAT'
form Pitch
    sentence wav take.wav
endform
Read from file: wav$
To Pitch (ac): 256 / 44100, 50, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 900
PRAAT

demo="$here/../examples/demo"
voicedir="$(printf '%s' "$(cd "$demo/voicebank" && pwd)" | iconv -f UTF-8 -t CP932 | sed -e 's/[&\\|]/\\&/g')"

# Wall seconds and peak resident KiB of one command: "SECONDS KIB".
measure() {
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null 2> "$work/stderr" || {
        cat "$work/stderr" >&2
        exit 1
    }
    cat "$work/time"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "take: $seconds s, $(($(stat -c %s "$take") / 1048576)) MiB; $runs rounds"
printf '%-6s %9s %9s %9s %9s %7s %7s %7s %9s\n' round praat_s analyze_s segment_s insert_s \
    x_anal x_seg x_ins peak_MiB
: > "$work/ratios"
for round in $(seq 1 "$runs"); do
    sed -e "s|@VOICEBANK@|$voicedir|" "$demo/plugin.tmp.in" > "$work/plugin.tmp"
    read -r praatS _ < <(measure praat --run "$work/pitch.praat" "$take")
    read -r analyzeS analyzeKiB < <(measure "$cli" analyze "$take" -o "$work/frames.csv")
    read -r segmentS _ < <(measure "$cli" segment "$take" --auto -o "$work/take.mlq" --force)
    read -r insertS _ < <(measure "$cli" insert "$work/plugin.tmp" --state "$work/take.mlq")
    xa="$(ratio "$praatS" "$analyzeS")"
    xs="$(ratio "$praatS" "$segmentS")"
    xi="$(ratio "$praatS" "$insertS")"
    echo "$xa $xs $xi" >> "$work/ratios"
    printf '%-6s %9s %9s %9s %9s %7s %7s %7s %9d\n' "$round" "$praatS" "$analyzeS" "$segmentS" "$insertS" \
        "$xa" "$xs" "$xi" "$((analyzeKiB / 1024))"
done
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
echo "median: Praat's time over analyze $(cut -d' ' -f1 "$work/ratios" | median)x," \
     "over segment --auto $(cut -d' ' -f2 "$work/ratios" | median)x," \
     "over insert $(cut -d' ' -f3 "$work/ratios" | median)x"
