#!/usr/bin/env bash
# Peak memory of melodrift-cli on inputs far larger than what it keeps:
#   wav-after   a 1-s recording followed by 1.5 GB of other chunks
#   wav-before  1.5 GB of other chunks, then the 1-s recording
#   voicedir    a plug-in file whose VoiceDir line is 100 MB
#   oto-200k    a voicebank whose oto.ini has 200,000 entries (and, to
#               subtract, one with 10 entries: the difference / 199,990 is
#               the cost of one entry)
#   setting     a plug-in file whose [#SETTING] section is 100 MB of short
#               lines (refused past 1 MB)
#   notes       a plug-in file selecting 2,000,000 notes (refused past 100,000)
#   state       a 135 MB edit state of 2,000,000 segments (refused past 8 MB)
#   state-8mb   a 7.9 MB edit state of segments, about the largest one read
#   oto-lines   an oto.ini of 1,500,000 lines (refused past 250,000)
#   hour        `analyze` of a 1-hour recording (318 MB of samples) to a file;
#               only with HOUR=1 (several minutes)
# The inputs are generated in WORK (default /tmp/melodrift-large; sparse
# where the file system allows, about 1.6 GB of disk otherwise) and removed
# unless KEEP=1. Needs python3 and GNU time (/usr/bin/time).
#
#   bench/large_inputs.sh build/release/src/cli/melodrift-cli [WORK]
set -euo pipefail
cli=$(realpath "${1:?usage: $0 path/to/melodrift-cli [work folder]}")
work=${2:-/tmp/melodrift-large}
mkdir -p "$work"
cd "$work"

python3 - <<'PY'
import math, struct, os
rate = 44100
samples = b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 220 * i / rate))) for i in range(rate))
fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16)
data = b"data" + struct.pack("<I", len(samples)) + samples
junk_size = 1536 * 1024 * 1024
def write(name, chunks_before, chunks_after):
    with open(name, "wb") as f:
        body_size = 4 + sum(len(c) for c in chunks_before + chunks_after) + 8 + junk_size
        f.write(b"RIFF" + struct.pack("<I", body_size) + b"WAVE")
        for c in chunks_before: f.write(c)
        f.write(b"junk" + struct.pack("<I", junk_size))
        f.seek(junk_size, os.SEEK_CUR)      # a hole: no disk used where sparse files exist
        for c in chunks_after: f.write(c)
        f.truncate()
write("wav-after.wav", [fmt, data], [])
write("wav-before.wav", [fmt], [data])
with open("voice.wav", "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 4 + len(fmt) + len(data)) + b"WAVE" + fmt + data)
os.makedirs("bank-200k", exist_ok=True)
os.makedirs("bank-10", exist_ok=True)
with open("bank-200k/oto.ini", "w", newline="") as f:
    for i in range(200_000):
        f.write(f"s_{i:07d}.wav=a{i:07d},100,200,-300,50,20\r\n")
with open("bank-10/oto.ini", "w", newline="") as f:
    for i in range(10):
        f.write(f"s_{i:07d}.wav=a{i:07d},100,200,-300,50,20\r\n")
PY

plugin() {   # NAME VOICEDIR
    printf '[#SETTING]\r\nTempo=120.00\r\nVoiceDir=%s\r\n[#PREV]\r\nLength=480\r\nLyric=R\r\n' "$2" > "$1"
}
"$cli" segment voice.wav -o state.mlq --cuts 300,600 --lyrics a,i,u --force 2>/dev/null

measure() {   # LABEL COMMAND...
    local label=$1
    shift
    local log
    log=$(mktemp)
    local code=0
    /usr/bin/time -v "$@" >/dev/null 2>"$log" || code=$?
    local kb seconds
    kb=$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$log")
    seconds=$(sed -n 's/^\s*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
    printf '%-12s peak %8.1f MB  time %s  exit %d  %s\n' "$label" "$(echo "$kb / 1024" | bc -l)" "$seconds" "$code" \
        "$(grep -m1 'melodrift-cli:' "$log" | cut -c1-100 || true)"
    rm -f "$log"
}

measure wav-after "$cli" analyze wav-after.wav -o out.csv
measure wav-before "$cli" analyze wav-before.wav -o out.csv
python3 -c "
import sys
with open('voicedir.tmp', 'wb') as f:
    f.write(b'[#SETTING]\r\nTempo=120.00\r\nVoiceDir=' + b'v' * (100 * 1024 * 1024) + b'\r\n')
"
measure voicedir "$cli" insert voicedir.tmp --state state.mlq
plugin oto-10.tmp "$work/bank-10"
measure oto-10 "$cli" insert oto-10.tmp --state state.mlq
plugin oto-200k.tmp "$work/bank-200k"
measure oto-200k "$cli" insert oto-200k.tmp --state state.mlq

python3 - <<'PY'
import os
with open("setting.tmp", "wb") as f:
    f.write(b"[#SETTING]\r\nTempo=120.00\r\n")
    line = b"Flags=g-5B50H40" + b"x" * 20 + b"\r\n"
    f.write(line * (100 * 1024 * 1024 // len(line)))
with open("notes.tmp", "wb") as f:
    f.write(b"[#SETTING]\r\nTempo=120.00\r\n")
    f.write(b"".join(b"[#%07d]\r\nLength=480\r\nLyric=a\r\n" % i for i in range(2_000_000)))
def state(name, sections, pad):
    with open(name, "wb") as f:
        f.write(b"[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\nWaveFile=voice.wav\r\n")
        f.write(b"MojiCount=%d\r\n" % sections)
        f.write(b"".join(b"[%d]\r\nTime=%d\r\nLength=30\r\nLyric=a%s\r\n" % (i, i * 30, pad)
                         for i in range(sections)))
state("state-135mb.mlq", 2_000_000, b"x" * 25)
state("state-8mb.mlq", 150_000, b"x" * 10)
os.makedirs("bank-lines", exist_ok=True)
with open("bank-lines/oto.ini", "wb") as f:
    f.write(b"a.wav=a,0,0,0,0,0\r\n" * 1_500_000)
PY
ls -l setting.tmp notes.tmp state-135mb.mlq state-8mb.mlq | awk '{printf "%-16s %6.1f MB\n", $NF, $5 / 1048576}'
measure setting "$cli" insert setting.tmp --state state.mlq
measure notes "$cli" insert notes.tmp --state state.mlq
plugin state.tmp "$work/bank-10"
measure state "$cli" insert state.tmp --state state-135mb.mlq
measure state-8mb "$cli" insert state.tmp --state state-8mb.mlq
plugin oto-lines.tmp "$work/bank-lines"
measure oto-lines "$cli" insert oto-lines.tmp --state state.mlq

if [ "${HOUR:-0}" = 1 ]; then
    python3 - <<'PY'
import array, math, struct
rate = 44100
second = array.array("h", (int(8000 * math.sin(2 * math.pi * 220 * i / rate)) for i in range(rate)))
data = second.tobytes()
with open("hour.wav", "wb") as f:
    size = len(data) * 3600
    f.write(b"RIFF" + struct.pack("<I", 36 + size) + b"WAVE")
    f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16))
    f.write(b"data" + struct.pack("<I", size))
    for _ in range(3600):
        f.write(data)
PY
    measure hour "$cli" analyze hour.wav -o hour.csv
fi

[ "${KEEP:-0}" = 1 ] || rm -rf "$work"
