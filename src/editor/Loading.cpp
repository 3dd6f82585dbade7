#include "editor/Loading.h"

#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"
#include "editor/Voicing.h"
#include "text/Files.h"
#include "text/NumberFormat.h"
#include "text/Prompts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace melodrift {

void NormalisePeak(WaveBuffer& wave, double target) {
    const std::uint32_t count = wave.SampleCount();
    if (count == 0) return;
    int peak = 0;
    for (std::uint32_t i = 0; i < count; ++i) peak = std::max(peak, std::abs(static_cast<int>(wave.GetSample(i, 0))));
    if (peak < 10) return;  // digital silence is not amplified
    const auto factor = static_cast<float>(static_cast<long double>(target) * 32767.0L / peak);
    for (std::uint32_t i = 0; i < count; ++i) {
        const long double scaled = static_cast<long double>(wave.GetSample(i, 0)) * factor;
        wave.SetSample(i, 0, static_cast<std::int32_t>(std::floor(scaled)));
    }
}

SpectrumColumn SpectrumColumnOf(const BinRow& spectrum) {
    SpectrumColumn column{};
    for (int r = 0; r < kSpectrumRows; ++r) {
        const int k = kSpectrumRows - 1 - r;
        const auto sum = static_cast<float>(spectrum[2 * k] + spectrum[2 * k + 1]);
        const long double v = static_cast<long double>(sum) / 2.0L + 0.00000001L;
        column[r] = static_cast<float>(20.0L * std::log10(v / 800.0L));
    }
    return column;
}

std::vector<std::int32_t> ComputeFrameVolume(const WaveBuffer& wave, std::span<const AnalysisFrame> frames) {
    std::vector<std::int32_t> volume(frames.size(), 0);
    const std::int64_t count = wave.SampleCount();
    std::int64_t p = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::int64_t end =
            i + 1 < frames.size() ? static_cast<std::int64_t>(frames[i + 1].SamplePos) - kHopSamples / 2 : count;
        std::int64_t sum = 0;
        for (; p < std::min(end, count); ++p) {
            const std::int64_t s = wave.GetSample(static_cast<std::uint32_t>(p), 0);
            sum += s * s;
        }
        volume[i] = static_cast<std::int32_t>(std::trunc(std::sqrt(static_cast<double>(sum) / 256.0)));
    }
    return volume;
}

namespace {

// Cents of a stored pitch, kept inside the int32 range whatever the frame
// holds (a pitch read from a file may be absurd).
std::int32_t RoundedCents(float hz) {
    const double cents = HzToCents(hz);
    if (!std::isfinite(cents)) return cents > 0 ? 1000000 : -1000000;
    return static_cast<std::int32_t>(RoundHalfUpTrunc(std::clamp(cents, -1000000.0, 1000000.0)));
}

}  // namespace

std::vector<std::int32_t> BuildPitchCents(std::span<const AnalysisFrame> frames,
                                          std::span<const std::uint8_t> rejected) {
    const int n = static_cast<int>(frames.size());
    std::vector<std::int32_t> cents(frames.size(), 0);
    int last = -1;  // the last voiced frame seen
    for (int i = 0; i < n; ++i) {
        const bool voiced = frames[i].TargetF0 != 0.0f &&
                            !(static_cast<std::size_t>(i) < rejected.size() && rejected[static_cast<std::size_t>(i)] != 0);
        if (voiced) cents[i] = RoundedCents(frames[i].TargetF0);
        if (i > 0 && voiced && last == -1) {
            std::fill(cents.begin(), cents.begin() + i, cents[i]);
            last = i;
        } else if (i == n - 1 && !voiced) {
            // With no voiced frame at all everything stays 0.
            if (last >= 0) std::fill(cents.begin() + last + 1, cents.end(), cents[last]);
        } else if (voiced && i - last > 1) {
            const std::int64_t from = cents[last];
            const std::int64_t to = cents[i];
            for (int k = last + 1; k < i; ++k) {
                cents[k] = static_cast<std::int32_t>(from + (to - from) * (k - last) / (i - last));
            }
            last = i;
        } else if (voiced) {
            last = i;
        }
    }
    return cents;
}

// ---- EditorSession ---------------------------------------------------------------

LoadOutcome EditorSession::LoadRecording(const std::filesystem::path& path, Prompts& prompts,
                                         const LoadProgress& progress) {
    auto report = [&](std::string_view stage, double fraction) {
        if (progress) progress(stage, fraction);
    };
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return LoadOutcome::NoFile;

    report("read", 0.0);
    auto wave = std::make_unique<WaveBuffer>();
    const WavLoadResult rc = wave->LoadFromFile(path);
    if (rc != WavLoadResult::Ok || wave->SamplesPerSec() != static_cast<std::uint32_t>(kSampleRate) ||
        wave->BitsPerSample() != 16) {
        prompts.Error(kUnsupportedFormatMessage);
        prompts.Beep();
        return LoadOutcome::Unsupported;
    }
    if (wave->Duration() > kLongRecordingSeconds) {
        prompts.Beep();
        if (!prompts.AskOkCancel(kLongRecordingQuestion)) return LoadOutcome::Declined;
    }

    NormalisePeak(*wave, 0.9);

    // Analyse into a new analyser; the session's one is replaced at the end.
    auto analyser = std::make_unique<PitchAnalyser>();
    analyser->Options = Analyser->Options;
    // Stored spectra would hold 8 kB per frame (850 MB for ten minutes) only
    // to be dropped once the image is built; the one pass below recomputes
    // each row, bit for bit, on the analysis workers instead.
    analyser->Options.KeepSpectra = false;
    const auto callerProgress = analyser->Options.Progress;
    if (progress) {
        analyser->Options.Progress = [&progress](int done, int total) {
            if (total > 0) progress("analyse", 0.05 + 0.85 * static_cast<double>(done) / total);
        };
    }
    report("analyse", 0.05);
    analyser->Analyze(*wave);
    analyser->Options.Progress = callerProgress;
    if (analyser->FrameCount == 0) {
        // The samples are taken over, the analysis is empty: nothing can be
        // edited until another recording loads.
        Wave = std::move(wave);
        Analyser = std::move(analyser);
        Resynth.reset();
        FrameVolume.clear();
        SpectrumImage.clear();
        PitchCents.clear();
        PitchRejected.clear();
        Segments.clear();
        HoverSegment = HoverCut = SelFirst = SelLast = -1;
        prompts.Error(kNoFramesMessage);
        prompts.Beep();
        return LoadOutcome::NoFrames;
    }

    report("measure", 0.9);
    for (AnalysisFrame& frame : analyser->Frames) frame.TargetF0 = frame.F0;
    // The fixed comb and the noise flux replace the analysis' harmonic and
    // noise measures with the ones the resynthesised preview plays from; the
    // comb sets every F0 to 150 Hz, which is why the traced pitch was kept in
    // TargetF0 first. The spectrum image is taken from the same rows in the
    // same pass; each worker writes only its own frames' columns.
    std::vector<SpectrumColumn> spectrumImage(static_cast<std::size_t>(analyser->FrameCount));
    // The voicing check's spectral evidence is taken from the same rows.
    std::vector<VoicingEvidence> evidence(static_cast<std::size_t>(analyser->FrameCount));
    const AnalysisFrames& traced = analyser->Frames;
    analyser->MeasureFixedCombAndNoiseFlux([&spectrumImage, &evidence, &traced](int frame, const BinRow& row) {
        const auto k = static_cast<std::size_t>(frame);
        spectrumImage[k] = SpectrumColumnOf(row);
        evidence[k] = MeasureVoicingEvidence(row, traced[k].TargetF0);
    });
    analyser->ReleaseSpectra();
    std::vector<std::uint8_t> pitchRejected = CheckVoicing(analyser->Frames, analyser->Confidence, evidence);
    std::vector<std::int32_t> pitchCents = melodrift::BuildPitchCents(
        analyser->Frames, VoicingCheck ? std::span<const std::uint8_t>(pitchRejected) : std::span<const std::uint8_t>());
    std::vector<std::int32_t> frameVolume = ComputeFrameVolume(*wave, analyser->Frames);
    auto resynth = std::make_unique<Resynthesizer>();

    // Everything is ready: take it over.
    Wave = std::move(wave);
    Analyser = std::move(analyser);
    SpectrumImage = std::move(spectrumImage);
    PitchCents = std::move(pitchCents);
    PitchRejected = std::move(pitchRejected);
    FrameVolume = std::move(frameVolume);
    Caption = PathToUtf8(path.filename());
    WaveFileName = path;
    FirstFrame = 0;
    Modified = true;
    OpenWaveFileName = path;
    EditOpenFileName = path;
    EditOpenFileName.replace_extension(".mlq");
    EditSaveFileName = EditOpenFileName;
    Mouse = MouseMode::Idle;
    HoverSegment = HoverCut = SelFirst = SelLast = -1;
    // The whole recording starts as one rest. It is placed directly rather
    // than as a cut, so that a recording shorter than the least cut gap
    // still has its segment.
    Segments.assign(1, Segment{0.0, 0.0, "R"});
    RecalcLengths();
    Resynth = std::move(resynth);
    report("done", 1.0);
    return LoadOutcome::Loaded;
}

void EditorSession::BuildPitchCents() {
    PitchCents = melodrift::BuildPitchCents(Analyser->Frames, RejectedPitchFrames());
}

std::span<const std::uint8_t> EditorSession::RejectedPitchFrames() const {
    if (!VoicingCheck) return {};
    return PitchRejected;
}

}  // namespace melodrift
