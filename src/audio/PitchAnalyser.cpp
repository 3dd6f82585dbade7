#include "audio/PitchAnalyser.h"

#include <algorithm>
#include <cmath>

namespace melodrift {

namespace {

constexpr std::size_t Index(int i) { return static_cast<std::size_t>(i); }

}  // namespace

PitchAnalyser::PitchAnalyser() {
    HannWindow();
    NoiseBands();
}

void PitchAnalyser::Clear() {
    FrameCount = 0;
    HeadFrame = -1;
    TailFrame = -1;
    Frames.clear();
    Spectrum.clear();
    Autocorr.clear();
    Confidence.clear();
    Candidates.clear();
    std::vector<std::int16_t>().swap(samples_);
    borrowedWave_ = nullptr;
    samplesHeld_ = false;
    rowScratch_.reset();
}

void PitchAnalyser::ReleaseSpectra() {
    BinRows().swap(Spectrum);
    BinRows().swap(Autocorr);
    std::vector<std::int16_t>().swap(samples_);
    borrowedWave_ = nullptr;
    samplesHeld_ = false;
    rowScratch_.reset();
}

void PitchAnalyser::InitFrame(int index) {
    if (index < 0 || index >= FrameCount) return;
    AnalysisFrame& f = Frames[Index(index)];
    f.SamplePos = 0;
    f.PrevFrame = -1;
    f.NextFrame = -1;
    f.F0 = 0.0f;
    f.HarmonicTotal = 0.0f;
    f.Harmonic.fill(0.0f);
    f.Noise.fill(0.0f);
    f.TargetF0 = 0.0f;
    f.EnvelopeScale = 1.0f;
    f.NoiseFloor = 0.2f;
    f.NoiseFloorLevel = 2000.0f;
    f.TiltExponent = 1.0f;
}

void PitchAnalyser::InterpolateFrame(int dest, int a, int b, float t) {
    const auto valid = [this](int i) { return i >= 0 && i < FrameCount; };
    if (!valid(dest) || !valid(a) || !valid(b)) return;
    AnalysisFrame& d = Frames[Index(dest)];
    const AnalysisFrame fa = Frames[Index(a)];
    const AnalysisFrame fb = Frames[Index(b)];
    const auto blend = [t](float x, float y) {
        return static_cast<float>(x +
                                  static_cast<long double>(t) * (static_cast<long double>(y) - x));
    };
    d.F0 = blend(fa.F0, fb.F0);
    if (d.F0 > 0.0f) {
        d.HarmonicTotal = blend(fa.HarmonicTotal, fb.HarmonicTotal);
        for (std::size_t h = 0; h < d.Harmonic.size(); ++h)
            d.Harmonic[h] = blend(fa.Harmonic[h], fb.Harmonic[h]);
    }
    for (std::size_t n = 0; n < d.Noise.size(); ++n) d.Noise[n] = blend(fa.Noise[n], fb.Noise[n]);
    d.TargetF0 = blend(fa.TargetF0, fb.TargetF0);
    d.EnvelopeScale = blend(fa.EnvelopeScale, fb.EnvelopeScale);
    d.NoiseFloor = blend(fa.NoiseFloor, fb.NoiseFloor);
    d.NoiseFloorLevel = blend(fa.NoiseFloorLevel, fb.NoiseFloorLevel);
    d.TiltExponent = blend(fa.TiltExponent, fb.TiltExponent);
}

int PitchAnalyser::AddFrame(std::int32_t position) {
    const auto append = [this](bool initialise) {
        Frames.push_back(AnalysisFrame{});
        ++FrameCount;
        if (initialise) InitFrame(FrameCount - 1);
        return FrameCount - 1;
    };

    if (HeadFrame < 0) {
        const int index = append(true);
        HeadFrame = index;
        TailFrame = index;
        return index;
    }

    if (position < 0) {
        // A new head before the first frame; then every position moves by
        // -position so that the head lands on sample 0.
        const int index = append(true);
        AnalysisFrame& f = Frames[Index(index)];
        f.SamplePos = position;
        f.NextFrame = HeadFrame;
        Frames[Index(HeadFrame)].PrevFrame = index;
        HeadFrame = index;
        for (auto& frame : Frames) frame.SamplePos -= position;
        return index;
    }

    // The time chain is in increasing SamplePos, so a position at or past the
    // tail ends the walk at the tail: start there and the frame placement of
    // a long recording stays linear instead of quadratic.
    int c = position >= Frames[Index(TailFrame)].SamplePos ? TailFrame : HeadFrame;
    while (Frames[Index(c)].NextFrame >= 0 && position > Frames[Index(c)].SamplePos) {
        c = Frames[Index(c)].NextFrame;
    }
    const std::int32_t cPos = Frames[Index(c)].SamplePos;
    if (position == cPos) return c;

    if (position > cPos) {
        // Past the tail.
        const int index = append(true);
        AnalysisFrame& f = Frames[Index(index)];
        f.SamplePos = position;
        f.PrevFrame = c;
        Frames[Index(c)].NextFrame = index;
        TailFrame = index;
        return index;
    }

    const int q = Frames[Index(c)].PrevFrame;
    if (q < 0) {
        // Before a head that is not at sample 0: a plain new head (the list
        // the analyser builds always has its head at 0, so this is only
        // reached by other callers).
        const int index = append(true);
        AnalysisFrame& f = Frames[Index(index)];
        f.SamplePos = position;
        f.NextFrame = c;
        Frames[Index(c)].PrevFrame = index;
        HeadFrame = index;
        return index;
    }

    // Between q and c: a zeroed frame, interpolated from its two neighbours.
    const int index = append(false);
    const std::int32_t qPos = Frames[Index(q)].SamplePos;
    const auto t = static_cast<float>(static_cast<long double>(position - qPos) / (cPos - qPos));
    Frames[Index(index)].SamplePos = position;
    InterpolateFrame(index, q, c, t);
    AnalysisFrame& f = Frames[Index(index)];
    f.PrevFrame = q;
    f.NextFrame = c;
    Frames[Index(q)].NextFrame = index;
    Frames[Index(c)].PrevFrame = index;
    return index;
}

bool PitchAnalyser::SpectraStored() const {
    return FrameCount > 0 && Spectrum.size() == Index(FrameCount);
}

PaddedSamples PitchAnalyser::HeldSamples() const {
    return borrowedWave_ != nullptr ? PaddedSamples(*borrowedWave_) : PaddedSamples(samples_);
}

SpectrumSource PitchAnalyser::Source(const PaddedSamples& samples) const {
    return SpectrumSource{&samples, HopSize};
}

void PitchAnalyser::SpectrumRow(int frame, BinRow& row) {
    if (frame < 0 || frame >= FrameCount) {
        row.fill(0.0);
    } else if (SpectraStored()) {
        row = Spectrum[Index(frame)];
    } else if (samplesHeld_) {
        if (!rowScratch_) rowScratch_ = std::make_unique<FrameScratch>();
        const PaddedSamples samples = HeldSamples();
        row = rowScratch_->Row(Source(samples), frame);
    } else {
        row.fill(0.0);
    }
}

void PitchAnalyser::ComputeSpectra(const WaveBuffer& wave) {
    if (wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) ||
        wave.BitsPerSample() != 16) {
        return;
    }
    Clear();
    const auto sampleCount = static_cast<std::int64_t>(wave.SampleCount());

    // One frame every HopSize samples from 0 up to and including the last
    // multiple within the recording (N itself when N is a multiple), then one
    // on the last sample; N = 0 gives frames at -1 and 0, shifted to 0 and 1.
    Frames.reserve(static_cast<std::size_t>(sampleCount / HopSize + 2));
    for (std::int64_t b = 0; b <= sampleCount / HopSize; ++b) {
        AddFrame(static_cast<std::int32_t>(b * HopSize));
    }
    AddFrame(static_cast<std::int32_t>(sampleCount - 1));

    const auto n = Index(FrameCount);
    if (Options.KeepAutocorr) Autocorr.assign(n, BinRow{});
    Confidence.assign(n, 0.0f);
    Candidates.assign(n, CandidateSlots{});

    if (!Options.KeepSpectra && Options.BorrowWave) {
        // Rows are recomputed from the wave itself whenever a step needs them.
        borrowedWave_ = &wave;
        samplesHeld_ = true;
        return;
    }
    if (!Options.KeepSpectra) {
        // Rows are recomputed from this copy whenever a step needs them.
        // Channel 0, 16-bit little-endian, read straight from the buffer.
        const auto bytes = wave.SampleData();
        const std::size_t stride = wave.BlockAlign();
        const std::size_t count =
            stride >= 2 ? std::min(static_cast<std::size_t>(sampleCount), bytes.size() / stride)
                        : 0;
        samples_.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = bytes.data() + i * stride;
            samples_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
        }
        samplesHeld_ = true;
        return;
    }
    // The window of frame i is positioned by its index, not its SamplePos:
    // recording samples i * HopSize - 1024 .. i * HopSize + 1023.
    Spectrum.assign(n, BinRow{});
    const PaddedSamples samples(wave);
    ProgressCounter progress(Options.Progress, 2 * FrameCount, 0, Options.Stop);
    RunSpectrumStep(
        {.Samples = samples, .HopSize = HopSize, .Spectrum = Spectrum},
        {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount, .Progress = &progress});
}

void PitchAnalyser::FindCandidates(double f1Hz, double f2Hz, const RowTask& alongside) {
    lags_ = LagLimits(f1Hz, f2Hz);
    const bool stored = SpectraStored();
    if (FrameCount <= 0 || (!stored && !samplesHeld_)) return;
    if (Options.KeepAutocorr && Autocorr.size() != Index(FrameCount))
        Autocorr.assign(Index(FrameCount), BinRow{});
    if (!Options.KeepAutocorr) BinRows().swap(Autocorr);
    Confidence.assign(Index(FrameCount), 0.0f);
    Candidates.assign(Index(FrameCount), CandidateSlots{});
    // With stored spectra, computing them was the first half of the progress;
    // otherwise this step computes them too and is the whole of it.
    ProgressCounter progress(Options.Progress, stored ? 2 * FrameCount : FrameCount,
                             stored ? FrameCount : 0, Options.Stop);
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const CandidateStep step{.Spectrum = Spectrum,
                             .Autocorr = Autocorr,
                             .Candidates = Candidates,
                             .Confidence = Confidence,
                             .Frames = Frames,
                             .Lags = lags_,
                             .Source = stored ? nullptr : &source,
                             .Task = &alongside};
    RunCandidateStep(
        step,
        {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount, .Progress = &progress});
}

void PitchAnalyser::VisitSpectra(const SpectrumVisitor& visit) {
    if (FrameCount <= 0 || !visit) return;
    const bool stored = SpectraStored();
    if (!stored && !samplesHeld_) return;
    const PaddedSamples samples = HeldSamples();
    const SpectrumSource source = Source(samples);
    const FrameTask task = [&](int i, FrameScratch& scratch) {
        visit(i, stored ? Spectrum[Index(i)] : scratch.Row(source, i));
    };
    RunFrameTask(task, {.FrameCount = FrameCount, .WorkerCount = Options.WorkerCount});
}

void PitchAnalyser::AnalyzePitch(const WaveBuffer& wave, const RowTask& alongside) {
    if (wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) ||
        wave.BitsPerSample() != 16) {
        return;
    }
    ComputeSpectra(wave);
    TracePitch(alongside);
}

void PitchAnalyser::TracePitch(const RowTask& alongside) {
    FindCandidates(50.0, 882.0, alongside);
    if (StopRequested()) return;  // the caller drops this analysis
    TrackPitch();
}

void PitchAnalyser::Analyze(const WaveBuffer& wave) {
    if (wave.SamplesPerSec() != static_cast<std::uint32_t>(AnalysisSampleRate) ||
        wave.BitsPerSample() != 16) {
        return;
    }
    AnalyzePitch(wave);
    if (StopRequested()) return;
    if (SpectraStored()) {
        MeasureHarmonics();
        MeasureNoiseBands();
    } else {
        MeasureHarmonicsAndNoiseBands();
    }
    SmoothNoiseBands();
    Normalize();
}

}  // namespace melodrift
