// Resynthesis speed: rendering frame pairs of 30 harmonics and 16 noise bands
// (target: at least 50 times real time), and building the noise tables.
#include <benchmark/benchmark.h>

#include "audio/Frames.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"

namespace melodrift {
namespace {

// A voiced frame analysed at 150 Hz with a falling envelope and every noise
// band on. Rendered at 140..145 Hz, all 30 harmonics fall inside the envelope
// (30 · 145 < 30 · 150) and are audible.
AnalysisFrame VoicedFrame(float f0Hz) {
    AnalysisFrame frame{};
    frame.F0 = f0Hz;
    for (int h = 0; h < HarmonicCount; ++h)
        frame.Harmonic[static_cast<std::size_t>(h)] = 3000.0f / (h + 1);
    for (int b = 0; b < NoiseBandCount; ++b) frame.Noise[static_cast<std::size_t>(b)] = 2.0f;
    return frame;
}

// One second of audio rendered as 172 hops of 256 samples, pitch gliding
// between 140 and 145 Hz. Reports the speed as a multiple of real time.
void BM_SynthSegmentOneSecond(benchmark::State& state) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    const AnalysisFrame low = VoicedFrame(150.0f);
    const AnalysisFrame high = VoicedFrame(150.0f);
    SynthParams lowParams;
    InitSynthParams(lowParams);
    lowParams.NoiseFloor = 0.2f;
    lowParams.NoiseFloorLevel = 3000.0f;
    lowParams.F0 = 140.0f;
    SynthParams highParams = lowParams;
    highParams.F0 = 145.0f;
    constexpr int kHops = 172;
    WaveBuffer wave = MakeMono16Wave(kHops * HopSize);
    for (auto _ : state) {
        std::int32_t position = 0;
        for (int hop = 0; hop < kHops; ++hop) {
            const bool rising = hop % 2 == 0;
            position = synth.SynthSegment(wave, position, HopSize, rising ? low : high,
                                          rising ? high : low, rising ? lowParams : highParams,
                                          rising ? highParams : lowParams);
        }
        benchmark::DoNotOptimize(position);
    }
    const double seconds = static_cast<double>(kHops * HopSize) / AnalysisSampleRate;
    state.counters["realtime_factor"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SynthSegmentOneSecond)->Unit(benchmark::kMillisecond);

void BM_BuildNoiseTables(benchmark::State& state) {
    LcgRandom random(0);
    Resynthesizer synth(random);
    for (auto _ : state) {
        synth.BuildNoiseTables(random);
        benchmark::DoNotOptimize(synth.NoiseTable(0).data());
    }
}
BENCHMARK(BM_BuildNoiseTables)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace melodrift

BENCHMARK_MAIN();
