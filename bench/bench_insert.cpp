// Insert of 1,000 segments (a 100-second recording cut every 100 ms) into a
// plug-in file, against a voicebank of 50,000 oto.ini entries: in trace mode
// (alias resolution, loudness envelopes, Mode2 portamento) and in voice
// correction mode (frequency table, 1,000 new entries in a folder that
// already holds 50,000, oto.ini rewritten).
#include "audio/Frames.h"
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/Insertion.h"
#include "editor/Session.h"
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "voicebank/Voicebank.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;

constexpr int kSegments = 1000;
constexpr double kSegmentMs = 100.0;
constexpr int kVoicebankEntries = 50000;

const char* const kSyllables[] = {"か", "き", "く", "け", "こ", "さ", "し", "す", "せ", "そ"};

// The oto.ini of a large bank: 50,000 entries, the syllables the recording
// is cut into among the last ones.
std::string LargeOtoIni() {
    std::vector<std::string> lines;
    lines.reserve(kVoicebankEntries);
    for (int i = 0; i < kVoicebankEntries - 10; ++i)
        lines.push_back("s" + std::to_string(i) + ".wav=x" + std::to_string(i) +
                        ",20,90,-300,70,20");
    for (const char* syllable : kSyllables)
        lines.push_back("v.wav=" + Utf8ToCp932(syllable) + ",20,90,-300,70,20");
    return JoinLinesCrLf(lines);
}

struct InsertSetup {
    fs::path folder;
    fs::path pluginFile;
    Voicebank voicebank;
    EditorSession session;

    explicit InsertSetup(bool correction) {
        folder = fs::temp_directory_path() /
                 ("melodrift-bench-insert-" + std::string(correction ? "c" : "t"));
        fs::remove_all(folder);
        fs::create_directories(folder / "bank");
        fs::create_directories(folder / "take");
        WriteFileAtomically(folder / "bank" / "oto.ini", LargeOtoIni());
        // In voice correction mode the recording's own folder holds the big bank.
        if (correction) WriteFileAtomically(folder / "take" / "oto.ini", LargeOtoIni());
        pluginFile = folder / "plugin.tmp";
        WriteFileAtomically(
            pluginFile,
            JoinLinesCrLf({"[#SETTING]", "Tempo=120", "VoiceDir=" + PathToCp932(folder / "bank")}));
        session.Notes = std::make_unique<NoteList>(&voicebank);
        SilentPrompts silent;
        session.Notes->LoadFromPluginFile(pluginFile, silent);

        // A glide around A3 with a slow vibrato; loudness rising and falling.
        const auto samples = static_cast<std::uint32_t>(kSegments * kSegmentMs * kSamplesPerMs);
        *session.Wave = MakeMono16Wave(samples);
        const fs::path wave = folder / "take" / "voice.wav";
        WriteFileAtomically(wave, session.Wave->SaveToBytes());
        const int frames = static_cast<int>(samples / HopSize) + 1;
        PitchAnalyser& analyser = *session.Analyser;
        analyser.Frames.assign(static_cast<std::size_t>(frames), AnalysisFrame{});
        analyser.Confidence.assign(static_cast<std::size_t>(frames), 5.0f);
        analyser.FrameCount = frames;
        session.FrameVolume.resize(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            const auto k = static_cast<std::size_t>(i);
            analyser.Frames[k].SamplePos = i * HopSize;
            analyser.Frames[k].TargetF0 =
                static_cast<float>(220.0 * std::pow(2.0, std::sin(i * 0.05) / 12.0));
            session.FrameVolume[k] = static_cast<std::int32_t>(8000 + 6000 * std::sin(i * 0.01));
        }
        session.WaveFileName = wave;
        session.BuildPitchCents();
        for (int s = 0; s < kSegments; ++s)
            session.Segments.push_back(
                Segment{s * kSegmentMs, kSegmentMs,
                        s == 0 ? std::string("R") : std::string(kSyllables[s % 10])});
        session.RecalcLengths();
        session.CorrectionMode = correction;
        session.Modified = false;
    }
    ~InsertSetup() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
};

void BM_InsertTraceMode(benchmark::State& state) {
    InsertSetup setup(false);
    SilentPrompts prompts;
    for (auto _ : state) {
        Insert(setup.session, setup.voicebank, prompts);
        benchmark::DoNotOptimize(setup.session.Notes->Count());
    }
    state.counters["notes"] = kSegments;
    state.counters["oto_entries"] = setup.voicebank.OtoCount();
}
BENCHMARK(BM_InsertTraceMode)->Unit(benchmark::kMillisecond);

void BM_InsertVoiceCorrection(benchmark::State& state) {
    InsertSetup setup(true);
    SilentPrompts prompts;
    const std::vector<Segment> typed = setup.session.Segments;
    for (auto _ : state) {
        state.PauseTiming();
        setup.session.Segments = typed;  // each Insert starts from the typed lyrics
        state.ResumeTiming();
        Insert(setup.session, setup.voicebank, prompts);
        benchmark::DoNotOptimize(setup.session.Notes->Count());
    }
    state.counters["notes"] = kSegments;
    state.counters["oto_entries"] = setup.voicebank.OtoCount();
}
BENCHMARK(BM_InsertVoiceCorrection)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace melodrift

BENCHMARK_MAIN();
