// Automatic cutting of a sung recording into syllables.
//
// Every syllable is cut where its vowel begins (the point a host aligns with
// a note's start). Boundaries show in a few per-frame measures: the spectral
// envelope moving (a vowel change without a dip, あ→い), the loudness rising
// after a dip or a closure (a consonant, or the same vowel re-attacked),
// voicing starting, and the pitch stepping to a new note. Those are combined
// into one onset strength per analysis frame (5.8 ms). A vowel's start is
// told from a consonant's start and from a wobble inside a vowel by what
// follows it: a steady envelope, and singing that lasts (not a fade-out).
//
// With the lyrics known, exactly one sung segment per lyric is placed by a
// dynamic-programming alignment: the onsets are chosen among the peaks of the
// onset strength so that their summed strength is largest, every syllable is
// between MinSyllableMs and MaxSyllableMs long, and no singing is left
// outside a syllable. Without lyrics, adaptive peak picking keeps the peaks
// that stand out from the singing around them, and keeps one of two peaks
// closer than MergeMs (a consonant's start and its vowel's).
//
// Nothing assumes even spacing or a tempo. Pure functions: arrays in, frame
// indices out.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace melodrift {

// Log band energies of one analysis frame: kEnvelopeBands bands on the mel
// scale from 100 Hz to 8 kHz, 10·log10(power + 1) [dB] of the 16-bit scaled
// magnitude spectrum.
inline constexpr int kEnvelopeBands = 24;
using EnvelopeColumn = std::array<float, kEnvelopeBands>;
EnvelopeColumn EnvelopeColumnOf(const std::array<double, 1024>& magnitude);

// What the cutting reads, one entry per analysis frame in time order.
struct CuttingInput {
    std::span<const EnvelopeColumn> envelope;
    std::span<const std::int32_t> volume;  // RMS of the 16-bit samples
    std::span<const float> pitchHz;        // traced pitch, 0 where unvoiced
    std::span<const std::uint8_t>
        rejected;  // 1 where the voicing check rejects the pitch (may be empty)
};

struct CuttingOptions {
    double MinSyllableMs = 100.0;   // shortest syllable (onset to next onset)
    double MaxSyllableMs = 4000.0;  // longest sung syllable
    double MinRestMs = 120.0;       // a quiet stretch at least this long inside singing is a rest
    double MergeMs =
        150.0;  // blind: onsets closer than this are one syllable's consonant and vowel
};

// One sung segment: frames [startFrame, endFrame).
struct SungSpan {
    int startFrame = 0;
    int endFrame = 0;
};

// Per-frame measures the cutting works on (exposed for the tests and the
// measurement program).
struct OnsetMeasures {
    std::vector<double> strength;    // onset strength per frame, ≥ 0
    std::vector<std::uint8_t> sung;  // 1 where the frame is loud and voiced enough to be singing
    std::vector<double> loudnessDb;  // 20 log10(volume + 1)
    std::vector<double> change;      // envelope change, in units of its median inside singing
    std::vector<double> rise;        // loudness rise across the frame [dB]
};
OnsetMeasures MeasureOnsets(const CuttingInput& input);

// Blind cutting: one sung segment per detected syllable.
std::vector<SungSpan> CutBlind(const CuttingInput& input, const CuttingOptions& options = {});

// What the lyrics tell of a syllable's sound.
struct SyllableSound {
    char vowel = 0;                // 'a' 'i' 'u' 'e' 'o', 'n' for ん; 0 when unknown
    bool startsWithVowel = false;  // no consonant or glide before the vowel (あ, ん, ー)
    bool glides = false;           // the sound glides into its vowel (きゃ, いぇ, うぉ)
};

// Lyric-guided cutting of one syllable per entry of `syllables`. When the
// recording holds fewer audible syllables (onset peaks at least
// MinSyllableMs apart), `spans` is empty: none is placed at random.
struct LyricCut {
    std::vector<SungSpan> spans;
    int audibleSyllables = 0;  // how many syllables the recording appears to hold
};
LyricCut CutWithLyrics(const CuttingInput& input, std::span<const SyllableSound> syllables,
                       const CuttingOptions& options = {});

}  // namespace melodrift
