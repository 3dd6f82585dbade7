#!/usr/bin/env bash
# Regenerates the demo voicebank in voicebank/: one short tone per syllable
# (sox's synthesiser, 44100 Hz, 16-bit, mono) and an oto.ini in Shift-JIS
# with CR LF line ends, as UTAU voicebanks are written. The tones only have to
# exist: the demo shows which aliases the inserted notes resolve to.
# Needs the Debian packages sox and libc-bin (iconv); the output is committed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bank="$here/voicebank"
rm -rf "$bank"
mkdir -p "$bank"

# file stem, frequency of the tone (Hz)
samples=(a:220 ka:247 ki:262 ku:294 ke:330 ko:349)
for entry in "${samples[@]}"; do
    stem="${entry%%:*}"
    hz="${entry##*:}"
    sox -D -n -r 44100 -b 16 -c 1 "$bank/$stem.wav" synth 0.3 sine "$hz" fade 0.01 0.3 0.05 gain -6
done

# file=alias,offset,consonant,cutoff,preutterance,overlap (ms). The plain CV
# aliases come with the word-initial "- " forms of two of them, so the demo
# shows the resolver choosing "- か" for a syllable after a rest.
{
    printf '%s\r\n' \
        'a.wav=あ,20,60,-300,40,10' \
        'ka.wav=か,20,90,-300,70,20' \
        'ka.wav=- か,10,90,-300,50,0' \
        'ki.wav=き,20,90,-300,70,20' \
        'ku.wav=く,20,90,-300,70,20' \
        'ke.wav=け,20,90,-300,70,20' \
        'ko.wav=こ,20,90,-300,70,20' \
        'ko.wav=- こ,10,90,-300,50,0'
} | iconv -f UTF-8 -t CP932 > "$bank/oto.ini"
printf '%s\r\n' 'name=Melodrift demo voice' > "$bank/character.txt"
