// Loading a recording: the peak normalisation and the per-frame arrays that
// the editor derives from the analysis (loudness, spectrum image, pitch in
// cents). EditorSession::LoadRecording runs the whole load; the pieces here
// are pure functions so that each can be checked on its own.
#pragma once

#include "audio/Frames.h"
#include "editor/Session.h"

#include <cstdint>
#include <span>
#include <vector>

namespace melodrift {

class WaveBuffer;

// The error box of a rejected recording and the question before a long one.
inline constexpr std::string_view kUnsupportedFormatMessage = "対応していないフォーマットです。";
// The same for a file that could not be read whole (cut short, no memory).
inline constexpr std::string_view kUnreadableRecordingMessage = "録音ファイルを読み込めません。";
inline constexpr std::string_view kLongRecordingQuestion =
    "音声が長いため分析に長時間かかります。続けますか？";
inline constexpr std::string_view kNoFramesMessage = "Waveファイルの読み込みに失敗しました。";
// Recordings longer than this ask before the (slow) analysis, seconds.
inline constexpr double kLongRecordingSeconds = 10.0;

// Scales channel 0 so that its largest magnitude becomes target × 32767:
// factor = target · 32767 / peak (computed in extended precision, kept as a
// float), every sample := floor(sample · factor). A wave without samples or
// with a peak below 10 (digital silence) is left alone.
void NormalisePeak(WaveBuffer& wave, double target);
// The same for 16 bits in two steps, so that the samples can be used before
// they are scaled: every 16-bit value's scaled value (indexed by the value's
// 16 bits; empty when NormalisePeak leaves the wave alone or it is not 16
// bits), then the scaling itself.
std::vector<std::uint16_t> PeakScaleTable(const WaveBuffer& wave, double target);
void ApplyScaleTable(WaveBuffer& wave, std::span<const std::uint16_t> scaled);

// One column of the spectrum image from a frame's 1024-bin magnitude
// spectrum: row r (k = 127 − r) holds 20 log10(v / 800) dB with
// v = (S[2k] + S[2k+1]) / 2 + 1e-8, the pair summed in single precision.
SpectrumColumn SpectrumColumnOf(const BinRow& spectrum);
// The largest value of SpectrumColumnOf(spectrum), without the whole column.
float SpectrumColumnPeak(const BinRow& spectrum);

// RMS loudness per frame (array order): the samples of channel 0 are walked
// once; frame i < last takes them while the position is below SamplePos of
// frame i + 1 minus 128, the last frame the rest; entry = trunc(sqrt(sum of
// squares / 256)). The sum is kept in 64 bits. With a PeakScaleTable, the
// loudness of the samples as ApplyScaleTable will leave them.
std::vector<std::int32_t> ComputeFrameVolume(const WaveBuffer& wave,
                                             std::span<const AnalysisFrame> frames,
                                             std::span<const std::uint16_t> scaled = {});

// Pitch in cents per frame from TargetF0 (trunc(HzToCents + 0.5)), with
// unvoiced frames (TargetF0 exactly 0) filled: a leading run takes the first
// voiced value, a trailing run the last one, a run between two voiced frames
// the straight line between them in integer steps (truncated toward zero).
// No voiced frame at all gives zeros. A frame marked in `rejected` (1)
// counts as unvoiced; frames beyond its end count as they are.
std::vector<std::int32_t> BuildPitchCents(std::span<const AnalysisFrame> frames,
                                          std::span<const std::uint8_t> rejected = {});

}  // namespace melodrift
