// Timeline lane images and per-frame arrays of the editor: what a load, a new
// spectrum range and a scroll cost for a 10-second and a 10-minute recording.
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/EditState.h"
#include "editor/Loading.h"
#include "editor/Session.h"
#include "editor/Timeline.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using namespace melodrift;

int FramesOf(double seconds) { return static_cast<int>(seconds * 44100 / 256) + 2; }

std::vector<SpectrumColumn> SlopedSpectrum(int frames) {
    std::vector<SpectrumColumn> image(frames);
    for (int i = 0; i < frames; ++i) {
        for (int r = 0; r < kSpectrumRows; ++r) image[i][r] = -static_cast<float>((r + i) % 90);
    }
    return image;
}

std::vector<AnalysisFrame> VibratoFrames(int frames) {
    std::vector<AnalysisFrame> f(frames);
    for (int i = 0; i < frames; ++i) {
        f[i].SamplePos = i * 256;
        f[i].TargetF0 = (i / 40) % 3 == 2
                            ? 0.0f
                            : static_cast<float>(220.0 * std::pow(2.0, std::sin(i * 0.05) / 12));
    }
    return f;
}

void BM_SpectrumBitmap(benchmark::State& state) {
    const auto image = SlopedSpectrum(FramesOf(static_cast<double>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(BuildSpectrumBitmap(image, 50.0f));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}
BENCHMARK(BM_SpectrumBitmap)->Arg(10)->Arg(600)->Unit(benchmark::kMillisecond);

void BM_PitchCents(benchmark::State& state) {
    const auto frames = VibratoFrames(FramesOf(static_cast<double>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(BuildPitchCents(frames));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_PitchCents)->Arg(10)->Arg(600)->Unit(benchmark::kMicrosecond);

// One scroll step of a 10-minute recording at scale 3: the pitch lane of the
// visible frames and the whole surface.
void BM_ScrollRedraw(benchmark::State& state) {
    EditorSession s;
    const int frames = FramesOf(600);
    s.Analyser->FrameCount = frames;
    s.Analyser->Frames = VibratoFrames(frames);
    s.Analyser->Candidates.assign(frames, CandidateSlots{});
    for (int i = 0; i < frames; ++i)
        s.Analyser->Candidates[i][0] = {s.Analyser->Frames[i].TargetF0, 5.0f};
    s.PitchCents = BuildPitchCents(s.Analyser->Frames);
    s.FrameVolume.assign(frames, 8000);
    s.SpectrumImage = SlopedSpectrum(frames);
    *s.Wave = MakeMono16Wave(static_cast<std::uint32_t>((frames - 1) * 256));
    s.Segments = {{0.0, s.DurationMs(), "R"}};
    s.Scale = 3;
    s.VisibleFrames = VisibleFramesFor(669, 3);
    const RgbaImage volume = BuildVolumeBitmap(s.FrameVolume);
    const RgbaImage spectrum = BuildSpectrumBitmap(s.SpectrumImage, 50.0f);
    int position = 0;
    for (auto _ : state) {
        s.FirstFrame = position;
        position = (position + 50) % (frames - s.VisibleFrames);
        const RgbaImage pitch =
            BuildPitchBitmap({s.PitchCents, s.Analyser->Frames, s.Analyser->Candidates,
                              s.MinStrength, s.FirstFrame, s.VisibleFrames, s.Scale});
        const RgbaImage lyric = BuildLyricBitmap(s);
        benchmark::DoNotOptimize(ComposeSurface(s, {&volume, &spectrum, &pitch, &lyric}, 669, 335));
    }
}
BENCHMARK(BM_ScrollRedraw)->Unit(benchmark::kMicrosecond);

void BM_PitchKeys(benchmark::State& state) {
    const auto frames = VibratoFrames(FramesOf(static_cast<double>(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(PitchKeyValues(frames));
}
BENCHMARK(BM_PitchKeys)->Arg(10)->Arg(600)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
