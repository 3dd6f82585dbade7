// Analysis throughput and memory: PitchAnalyser::Analyze on synthetic voiced
// recordings (a gliding harmonic tone with noise), with one and two workers.
// Counters: frames per second (wall), process CPU seconds per analysis (all
// threads), and the process's peak resident set size where the platform
// reports it (Linux: VmHWM).
#include "audio/PitchAnalyser.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using melodrift::PitchAnalyser;
using melodrift::WaveBuffer;

// `seconds` of a tone gliding between 120 and 360 Hz every few seconds, six
// harmonics and Gaussian noise.
const WaveBuffer& Recording(int seconds) {
    static std::map<int, WaveBuffer> cache;
    auto found = cache.find(seconds);
    if (found != cache.end()) return found->second;
    const auto count = static_cast<std::uint32_t>(seconds) * 44100u;
    WaveBuffer wave = melodrift::MakeMono16Wave(count);
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 400.0);
    double phase = 0.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const double t = i / 44100.0;
        const double f0 = 240.0 + 120.0 * std::sin(2.0 * std::numbers::pi * t / 3.7);
        phase += 2.0 * std::numbers::pi * f0 / 44100.0;
        double v = noise(random);
        for (int h = 1; h <= 6; ++h) v += 5000.0 / h * std::sin(h * phase);
        wave.SetSample(i, 0, static_cast<std::int32_t>(std::lround(v)));
    }
    return cache.emplace(seconds, std::move(wave)).first->second;
}

// Peak resident set size in MiB, or -1 where it cannot be read.
double PeakResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            std::istringstream fields(line.substr(6));
            double kib = 0.0;
            fields >> kib;
            return kib / 1024.0;
        }
    }
    return -1.0;
}

void BM_Analyze(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    const int workers = static_cast<int>(state.range(1));
    const bool keepSpectra = state.range(2) != 0;
    const WaveBuffer& wave = Recording(seconds);
    std::int64_t frames = 0;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        // Process CPU time of all threads (std::clock), a load-independent
        // companion to the wall time on a shared machine.
        const std::clock_t start = std::clock();
        PitchAnalyser analyser;
        analyser.Options.WorkerCount = workers;
        analyser.Options.KeepSpectra = keepSpectra;
        analyser.Analyze(wave);
        frames += analyser.FrameCount;
        benchmark::DoNotOptimize(analyser.Frames.data());
        cpuSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    }
    state.counters["process_cpu_s"] = cpuSeconds / static_cast<double>(state.iterations());
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["peak_MiB"] = PeakResidentMiB();
}

// A 10-second recording, then the 10-minute one (about 103,000 frames);
// keep = 1 stores the spectra (8 kB per frame), keep = 0 recomputes them.
// The lean runs come first so that the peak resident size they report is
// their own.
BENCHMARK(BM_Analyze)
    ->ArgNames({"seconds", "workers", "keep"})
    ->Args({10, 1, 0})
    ->Args({10, 2, 0})
    ->Args({10, 1, 1})
    ->Args({10, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Analyze)
    ->ArgNames({"seconds", "workers", "keep"})
    ->Args({600, 2, 0})
    ->Args({600, 1, 0})
    ->Args({600, 2, 1})
    ->Args({600, 1, 1})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What loading a recording costs in all: Analyze, then the editor's pass
// (fixed comb, noise flux and one image column per frame from the spectra).
void BM_AnalyzeAndEditorPass(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    const bool keepSpectra = state.range(1) != 0;
    const WaveBuffer& wave = Recording(seconds);
    std::int64_t frames = 0;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        const std::clock_t start = std::clock();
        PitchAnalyser analyser;
        analyser.Options.KeepSpectra = keepSpectra;
        analyser.Analyze(wave);
        std::vector<float> column(static_cast<std::size_t>(analyser.FrameCount));
        analyser.MeasureFixedCombAndNoiseFlux([&column](int frame, const melodrift::BinRow& row) {
            column[static_cast<std::size_t>(frame)] = static_cast<float>(row[10] + row[11]);
        });
        analyser.ReleaseSpectra();
        frames += analyser.FrameCount;
        benchmark::DoNotOptimize(column.data());
        cpuSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["process_cpu_s"] = cpuSeconds / static_cast<double>(state.iterations());
    state.counters["peak_MiB"] = PeakResidentMiB();
}
BENCHMARK(BM_AnalyzeAndEditorPass)
    ->ArgNames({"seconds", "keep"})
    ->Args({600, 0})
    ->Args({600, 1})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What every command and the window run now: the pitch alone
// (AnalyzePitch, two transforms per frame), and with the editor's measures
// taken on the same rows in the same pass (as the window's load does; the
// image column stands in as in BM_AnalyzeAndEditorPass). Rows are
// recomputed from the wave itself, as the editor does.
void BM_AnalyzePitch(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    const int workers = static_cast<int>(state.range(1));
    const bool editorPass = state.range(2) != 0;
    const WaveBuffer& wave = Recording(seconds);
    std::int64_t frames = 0;
    double cpuSeconds = 0.0;
    for (auto _ : state) {
        const std::clock_t start = std::clock();
        PitchAnalyser analyser;
        analyser.Options.WorkerCount = workers;
        analyser.Options.KeepSpectra = false;
        analyser.Options.BorrowWave = true;
        std::vector<float> column;
        if (editorPass) {
            column.resize(static_cast<std::size_t>(wave.SampleCount() / 256 + 2));
            const auto visit = [&column](int frame, const melodrift::BinRow& row) {
                column[static_cast<std::size_t>(frame)] = static_cast<float>(row[10] + row[11]);
            };
            analyser.AnalyzePitch(wave, analyser.FixedCombAndNoiseFluxTask(visit));
        } else {
            analyser.AnalyzePitch(wave);
        }
        analyser.ReleaseSpectra();
        frames += analyser.FrameCount;
        benchmark::DoNotOptimize(analyser.Frames.data());
        benchmark::DoNotOptimize(column.data());
        cpuSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["process_cpu_s"] = cpuSeconds / static_cast<double>(state.iterations());
    state.counters["peak_MiB"] = PeakResidentMiB();
}
BENCHMARK(BM_AnalyzePitch)
    ->ArgNames({"seconds", "workers", "editor"})
    ->Args({600, 2, 0})
    ->Args({600, 2, 1})
    ->Args({600, 1, 0})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
