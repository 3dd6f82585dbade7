// The window's speed: start-up to a shown window with a 20,000-entry
// voicebank, and the redraw when scrolling and zooming a 10-minute recording.
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM names another.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>

#include "MainWindow.h"
#include "VectorState.h"
#include "Widgets.h"
#include "audio/PitchAnalyser.h"
#include "audio/Resynthesizer.h"
#include "audio/WaveBuffer.h"
#include "editor/LoadChecks.h"
#include "editor/PreviewJob.h"
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "voicebank/Voicebank.h"

namespace {

using namespace melodrift;

QTemporaryDir& Scratch() {
    static QTemporaryDir dir;
    return dir;
}

std::filesystem::path ScratchPath(const std::string& name) {
    const QByteArray utf8 = Scratch().path().toUtf8();
    return Utf8Path(std::string_view(utf8.constData(), std::size_t(utf8.size()))) / name;
}

// A voicebank folder with `entries` oto.ini lines and a plug-in file naming it.
std::filesystem::path MakeLargeProject(int entries) {
    const auto voice = ScratchPath("voice");
    std::filesystem::create_directories(voice);
    std::string oto;
    for (int i = 0; i < entries; ++i) {
        oto += "s" + std::to_string(i) + ".wav=a" + std::to_string(i) + ",10,80,-200,60,20\r\n";
    }
    WriteFileAtomically(voice / "oto.ini", oto);
    const auto plugin = ScratchPath("plugin.tmp");
    WriteFileAtomically(plugin,
                        "[#SETTING]\r\nTempo=120.00\r\nVoiceDir=" + PathToCp932(voice) + "\r\n");
    return plugin;
}

void BM_StartUpToShownWindow_20000Entries(benchmark::State& state) {
    const auto plugin = MakeLargeProject(20000);
    for (auto _ : state) {
        Voicebank voicebank;
        MainWindow form(plugin, std::make_unique<SilentPrompts>(), nullptr, &voicebank);
        form.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(voicebank.OtoCount());
        if (voicebank.OtoCount() != 20000) state.SkipWithError("voicebank not loaded");
    }
}
BENCHMARK(BM_StartUpToShownWindow_20000Entries)->Unit(benchmark::kMillisecond);

// A 10-minute recording's analysis, made up without analysing: a pitch
// glide with candidates, a loudness swell, a spectrum ramp, and one segment
// every 500 ms.
void FillTenMinutes(EditorSession& session) {
    constexpr std::uint32_t kSamples = 600u * 44100u;
    session.Wave->SetFrameCount(10);
    session.Wave->ConvertChannels(1);
    session.Wave->ConvertBits(16);
    session.Wave->ConvertSampleRate(44100);
    session.Wave->SetFrameCount(kSamples);
    const int frames = int(kSamples / 256) + 1;
    PitchAnalyser& analyser = *session.Analyser;
    analyser.FrameCount = frames;
    analyser.Frames.assign(std::size_t(frames), AnalysisFrame{});
    analyser.Candidates.assign(std::size_t(frames), CandidateSlots{});
    analyser.Confidence.assign(std::size_t(frames), 3.0f);
    session.FrameVolume.resize(std::size_t(frames));
    session.PitchCents.resize(std::size_t(frames));
    session.SpectrumImage.resize(std::size_t(frames));
    for (int i = 0; i < frames; ++i) {
        const float f0 = float(220.0 * std::pow(2.0, std::sin(i * 0.001)));
        analyser.Frames[std::size_t(i)].TargetF0 = (i % 50 < 45) ? f0 : 0.0f;
        analyser.Frames[std::size_t(i)].SamplePos =
            std::int32_t(std::min<std::uint32_t>(std::uint32_t(i) * 256u, kSamples - 1));
        for (int k = 0; k < 4; ++k) {
            analyser.Candidates[std::size_t(i)][std::size_t(k)].Freq = f0 * float(k + 1);
            analyser.Candidates[std::size_t(i)][std::size_t(k)].Strength = 4.0f - float(k) * 0.5f;
        }
        session.FrameVolume[std::size_t(i)] = std::int32_t(12000 + 8000 * std::sin(i * 0.01));
        session.PitchCents[std::size_t(i)] = std::int32_t(1200.0 * std::log2(f0 / 220.0) + 5700.0);
        for (int r = 0; r < kSpectrumRows; ++r)
            session.SpectrumImage[std::size_t(i)][std::size_t(r)] = float(-r) * 0.5f;
    }
    session.Segments.clear();
    const double durationMs = double(kSamples) / 44.1;
    for (double t = 0.0; t < durationMs; t += 500.0) session.Segments.push_back({t, 0.0, "a"});
    session.RecalcLengths();
}

struct TenMinuteWindow {
    Voicebank voicebank;
    MainWindow form{ScratchPath("none.tmp"), std::make_unique<SilentPrompts>(), nullptr,
                    &voicebank};
    TenMinuteWindow() {
        FillTenMinutes(form.Session());
        form.show();
        form.AfterRecordingChanged();
        QApplication::processEvents();
    }
};

void BM_ScrollRedraw_TenMinutes(benchmark::State& state) {
    TenMinuteWindow window;
    auto* bar = window.form.findChild<QScrollBar*>(QStringLiteral("TimeScrollBar"));
    int position = 0;
    for (auto _ : state) {
        position = (position + window.form.Session().VisibleFrames) % std::max(1, bar->maximum());
        bar->setValue(position);  // one page on: lyric and pitch lanes rebuilt, surface recomposed
    }
}
BENCHMARK(BM_ScrollRedraw_TenMinutes)->Unit(benchmark::kMillisecond);

void BM_ZoomRedraw_TenMinutes(benchmark::State& state) {
    TenMinuteWindow window;
    auto* upDown = window.form.findChild<ArrowStepper*>(QStringLiteral("ZoomArrows"));
    int scale = 1;
    for (auto _ : state) {
        scale = scale % 8 + 1;
        upDown->SetPosition(scale);  // new layout: every visible lane redrawn
    }
}
BENCHMARK(BM_ZoomRedraw_TenMinutes)->Unit(benchmark::kMillisecond);

// Window-thread time of one step at a zoom, on the 10-minute recording:
// the argument is the zoom arrows' position (8 the closest, 1 one pixel per
// frame, below 1 zoomed out), or kWholeTake for the zoom "全体" picks.
constexpr int kWholeTake = -1000;

void SetBenchZoom(TenMinuteWindow& window, int position) {
    if (position == kWholeTake) {
        window.form.ZoomToFitClicked();
    } else {
        window.form.findChild<ArrowStepper*>(QStringLiteral("ZoomArrows"))->SetPosition(position);
    }
}

void ZoomLabel(benchmark::State& state, const TenMinuteWindow& window) {
    state.SetLabel(ZoomCaption(window.form.Session().View()));
}

// The second argument of the step benchmarks: 0 steps back and forth over
// columns drawn before (kept per zoom); 1 starts every step with only the
// view on screen drawn, so that the step draws its columns from the frames.
void ForgetDrawnColumns(benchmark::State& state, TenMinuteWindow& window) {
    if (state.range(1) == 0) return;
    state.PauseTiming();
    window.form.AfterRecordingChanged();  // drops what was kept, redraws the view
    state.ResumeTiming();
}

// One wheel notch of scrolling (an eighth of the view): forth and back, or
// on into columns not shown before (wrapping to the start at the end).
void BM_ScrollStep_TenMinutes(benchmark::State& state) {
    TenMinuteWindow window;
    SetBenchZoom(window, int(state.range(0)));
    auto* bar = window.form.findChild<QScrollBar*>(QStringLiteral("TimeScrollBar"));
    window.form.SurfaceWheel(-120, false, 0);  // off the start, so that both directions move
    int direction = 1;
    for (auto _ : state) {
        ForgetDrawnColumns(state, window);
        if (state.range(1) != 0) {
            direction = 1;
            if (bar->value() >= bar->maximum()) {
                state.PauseTiming();
                bar->setValue(0);
                state.ResumeTiming();
            }
        }
        window.form.SurfaceWheel(-120 * direction, false, 300);
        if (state.range(1) == 0) direction = -direction;
    }
    ZoomLabel(state, window);
}
// Whole take: nothing to scroll (range 0..0); -12 (128 frames per pixel) is
// the zoom a little closer, whose page is most of the take.
BENCHMARK(BM_ScrollStep_TenMinutes)
    ->Args({kWholeTake, 0})
    ->ArgsProduct({{-12, -6, 1, 8}, {0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollStep_TenMinutes)
    ->ArgsProduct({{-12, -6, 1, 8}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

// One Ctrl+wheel notch around column 300, in and out again.
void BM_ZoomStep_TenMinutes(benchmark::State& state) {
    TenMinuteWindow window;
    SetBenchZoom(window, int(state.range(0)));
    const int position =
        window.form.findChild<ArrowStepper*>(QStringLiteral("ZoomArrows"))->Position();
    int direction = position >= 8 ? -1 : 1;
    ZoomLabel(state, window);
    for (auto _ : state) {
        ForgetDrawnColumns(state, window);
        window.form.SurfaceWheel(120 * direction, true, 300);
        direction = -direction;
    }
}
BENCHMARK(BM_ZoomStep_TenMinutes)
    ->ArgsProduct({{kWholeTake, -6, 1, 8}, {0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomStep_TenMinutes)
    ->ArgsProduct({{kWholeTake, -6, 1, 8}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

// "全体" from a zoom: the whole take fitted and drawn, then the zoom put back.
void BM_WholeTakeKey_TenMinutes(benchmark::State& state) {
    TenMinuteWindow window;
    SetBenchZoom(window, int(state.range(0)));
    ZoomLabel(state, window);
    for (auto _ : state) {
        ForgetDrawnColumns(state, window);
        window.form.ZoomToFitClicked();
        state.PauseTiming();
        SetBenchZoom(window, int(state.range(0)));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WholeTakeKey_TenMinutes)
    ->ArgsProduct({{-6, 1, 8}, {0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeTakeKey_TenMinutes)
    ->ArgsProduct({{-6, 1, 8}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

// Prompts that confirm the question before a long recording's analysis.
class ConfirmingPrompts : public SilentPrompts {
  public:
    bool AskOkCancel(std::string_view) override { return true; }
};

// A 10-minute take like a sung line: syllables of 0.45 s every 0.7 s on a
// pitch gliding between 120 and 360 Hz, six harmonics, low noise throughout.
std::filesystem::path TenMinuteTake() {
    const auto path = ScratchPath("take.wav");
    if (std::filesystem::exists(path)) return path;
    constexpr std::uint32_t kSamples = 600u * 44100u;
    WaveBuffer wave = MakeMono16Wave(kSamples);
    std::uint32_t noise = 1;
    double phase = 0.0;
    for (std::uint32_t i = 0; i < kSamples; ++i) {
        const double t = i / 44100.0;
        phase += 2.0 * 3.141592653589793 *
                 (240.0 + 120.0 * std::sin(2.0 * 3.141592653589793 * t / 3.7)) / 44100.0;
        noise = noise * 1664525u + 1013904223u;  // a plain LCG: -128..127
        double v = static_cast<double>(static_cast<int>(noise >> 24) - 128);
        const double inSyllable = std::fmod(t, 0.7);
        if (inSyllable < 0.45) {
            for (int h = 1; h <= 6; ++h) v += 7000.0 / h * std::sin(h * phase);
        }
        wave.SetSample(i, 0, static_cast<std::int32_t>(std::lround(v)));
    }
    WriteFileAtomically(path, wave.SaveToBytes());
    return path;
}

// One step of the spectrum-range bar: the visible columns recoloured and the
// surface recomposed (the whole 103,000-column image is not rebuilt).
void BM_SpectrumRangeStep_TenMinutes(benchmark::State& state) {
    TenMinuteWindow window;
    auto* bar = window.form.findChild<QScrollBar*>(QStringLiteral("SpectrumRangeBar"));
    int value = 40;
    for (auto _ : state) {
        value = value == 40 ? 41 : 40;
        bar->setValue(value);
    }
}
BENCHMARK(BM_SpectrumRangeStep_TenMinutes)->Unit(benchmark::kMillisecond);

// For comparison: the whole spectrum image of ten minutes coloured at once,
// what every step used to cost.
void BM_WholeSpectrumImage_TenMinutes(benchmark::State& state) {
    EditorSession session;
    FillTenMinutes(session);
    float density = 40.0f;
    for (auto _ : state) {
        density = density == 40.0f ? 41.0f : 40.0f;
        benchmark::DoNotOptimize(melodrift::BuildSpectrumBitmap(session.SpectrumImage, density));
    }
}
BENCHMARK(BM_WholeSpectrumImage_TenMinutes)->Unit(benchmark::kMillisecond);

// A 10-minute recording on disk, written once: the bundled example voice
// (かきくけこ, 1.84 s) repeated.
std::filesystem::path TenMinuteWav() {
    const auto path = ScratchPath("ten-minutes.wav");
    if (std::filesystem::exists(path)) return path;
    WaveBuffer voice;
    if (voice.LoadFromFile(std::filesystem::path(MELODRIFT_EXAMPLES) / "demo" / "voice.wav") !=
        WavLoadResult::Ok)
        return path;
    WaveBuffer wave = MakeMono16Wave(600u * 44100u);
    for (std::uint32_t i = 0; i < wave.SampleCount(); ++i)
        wave.SetSample(i, 0, voice.GetSample(i % voice.SampleCount(), 0));
    WriteFileAtomically(path, wave.SaveToBytes());
    return path;
}

// The load of a 10-minute recording in the window, from the button's call
// to the lanes drawn on the surface: reading, analysis behind the progress
// dialog, per-frame arrays, lane images, the first composed surface.
void BM_LoadRecordingToDrawnLanes_TenMinutes(benchmark::State& state) {
    const auto take = TenMinuteTake();
    double cpuSeconds = 0.0;
    // From the call until the loading picture first showed the take's
    // loudness (of the part read so far), all of it, its spectrum's first
    // columns, all of them, its pitch.
    double loudnessShown = 0.0;
    double wholeLoudnessShown = 0.0;
    double spectrumShown = 0.0;
    double wholeSpectrumShown = 0.0;
    double pitchShown = 0.0;
    double pictures = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        {
            Voicebank voicebank;
            MainWindow form(ScratchPath("none.tmp"), std::make_unique<ConfirmingPrompts>(), nullptr,
                            &voicebank);
            form.show();
            QApplication::processEvents();
            state.ResumeTiming();
            // Process CPU time of all threads, a load-independent companion
            // to the wall time on a shared machine.
            const std::clock_t start = std::clock();
            const LoadOutcome outcome = form.LoadRecording(take);
            QApplication::processEvents();
            cpuSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
            loudnessShown += form.LoadShown().loudness;
            wholeLoudnessShown += form.LoadShown().wholeLoudness;
            spectrumShown += form.LoadShown().spectrum;
            wholeSpectrumShown += form.LoadShown().wholeSpectrum;
            pitchShown += form.LoadShown().pitch;
            pictures += form.LoadShown().pictures;
            state.PauseTiming();
            if (outcome != LoadOutcome::Loaded) state.SkipWithError("the take did not load");
        }
        state.ResumeTiming();
    }
    state.counters["process_cpu_s"] = cpuSeconds / static_cast<double>(state.iterations());
    const auto mean = [&state](double total) {
        return total / static_cast<double>(state.iterations());
    };
    state.counters["loudness_shown_s"] = mean(loudnessShown);
    state.counters["whole_loudness_shown_s"] = mean(wholeLoudnessShown);
    state.counters["spectrum_shown_s"] = mean(spectrumShown);
    state.counters["whole_spectrum_shown_s"] = mean(wholeSpectrumShown);
    state.counters["pitch_shown_s"] = mean(pitchShown);
    state.counters["loading_pictures"] = mean(pictures);
}
BENCHMARK(BM_LoadRecordingToDrawnLanes_TenMinutes)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// What the window does on its own thread before a load starts: read the
// file's headers and tell its format and length.
void BM_LoadCheck_TenMinutes(benchmark::State& state) {
    const auto path = TenMinuteWav();
    for (auto _ : state) {
        if (CheckRecording(path) != RecordingCheck::Long)
            state.SkipWithError("not a long recording");
    }
}
BENCHMARK(BM_LoadCheck_TenMinutes)->Unit(benchmark::kMillisecond);

// From a stop request (200 ms into the analysis of ten minutes) until the
// load has returned with the session unchanged.
void BM_StopLatency_TenMinutes(benchmark::State& state) {
    const auto path = TenMinuteWav();
    for (auto _ : state) {
        EditorSession session;
        SilentPrompts prompts;
        std::atomic<bool> stop{false};
        session.Analyser->Options.Stop = &stop;
        std::chrono::steady_clock::time_point requested;
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            requested = std::chrono::steady_clock::now();
            stop = true;
        });
        struct Yes : SilentPrompts {
            bool AskOkCancel(std::string_view) override { return true; }
        } yes;
        const LoadOutcome outcome = session.LoadRecording(path, yes);
        const auto returned = std::chrono::steady_clock::now();
        stopper.join();
        if (outcome != LoadOutcome::Declined || session.HasRecording())
            state.SkipWithError("the load was not stopped");
        state.SetIterationTime(std::chrono::duration<double>(returned - requested).count());
    }
}
BENCHMARK(BM_StopLatency_TenMinutes)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// A resynthesised preview of a whole 10-minute recording, analysed for
// real (once): the part on the window's thread (copying the frames out) and
// the rendering that runs on the preview thread.
EditorSession& AnalysedTenMinutes() {
    static EditorSession session;
    if (!session.HasRecording()) {
        struct Yes : SilentPrompts {
            bool AskOkCancel(std::string_view) override { return true; }
        } yes;
        (void)session.LoadRecording(TenMinuteWav(), yes);
    }
    return session;
}

void BM_ResynthesisedPreviewPrepare_TenMinutes(benchmark::State& state) {
    EditorSession& session = AnalysedTenMinutes();
    for (auto _ : state) {
        auto job = PrepareResynthesis(session, 0.0, session.DurationMs());
        if (!job) state.SkipWithError("nothing to render");
        benchmark::DoNotOptimize(job);
    }
}
BENCHMARK(BM_ResynthesisedPreviewPrepare_TenMinutes)->Unit(benchmark::kMillisecond);

void BM_ResynthesisedPreviewRender_TenMinutes(benchmark::State& state) {
    EditorSession& session = AnalysedTenMinutes();
    const auto job = PrepareResynthesis(session, 0.0, session.DurationMs());
    if (!job) {
        state.SkipWithError("nothing to render");
        return;
    }
    for (auto _ : state) {
        // As the window's preview thread does first.
        ClearUpperVectorState();
        Resynthesizer resynth = *session.Resynth;
        benchmark::DoNotOptimize(RenderResynthesis(*job, resynth));
    }
}
BENCHMARK(BM_ResynthesisedPreviewRender_TenMinutes)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Scratch().path());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
