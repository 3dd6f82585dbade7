// How well automatic cutting finds the syllables of real sung recordings.
//
// Reads a voicebank folder of recordings named by their syllables
// ("_あんああいあうあ.wav": a small kana joins the one before it, "R" marks a
// rest) and its oto.ini, whose entries label where a syllable's vowel begins
// (offset + preutterance, ms; identical entries of two aliases of one sound
// count once). Files whose names hold anything else (breaths
// "_br1.wav") are skipped. Each recording is loaded as the command line
// loads it for cutting, then cut twice:
//   with lyrics  the syllables of its name as the lyric list: the share of
//                labelled onsets that have a sung-segment start within 50 ms,
//                the median distance from a labelled onset to the nearest
//                sung-segment start, and the share of recordings with exactly
//                one sung segment per syllable;
//   blind        the recall at 50 ms (each sung-segment start matches at most
//                one onset, nearest pairs first) and the share of recordings
//                whose number of sung segments equals the number of syllables.
// Also the time the cutting itself takes (not the analysis).
//
// Usage: bench_cutting FOLDER [--verbose]
#include "audio/PitchAnalyser.h"
#include "editor/Cutting.h"
#include "editor/Session.h"
#include "text/CodePage.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;

struct Recording {
    fs::path path;
    std::vector<std::string> syllables;  // rests left out
    std::vector<double> onsetsMs;        // labelled vowel onsets
    std::vector<double> endsMs;          // labelled ends of singing ("a -", "a R")
    bool kanaOnly = true;                // no rest in the name
};

// The syllables of a file name, or nothing when the name is not made of kana.
std::optional<std::vector<std::string>> SyllablesOfName(const std::string& stemUtf8) {
    std::string text = stemUtf8;
    if (!text.empty() && text[0] == '_') text.erase(0, 1);
    if (text.empty()) return std::nullopt;
    for (char32_t c : Utf8ToUtf16(text)) {
        const bool kana = (c >= 0x3041 && c <= 0x309F) || (c >= 0x30A0 && c <= 0x30FF);
        if (!kana && c != u'R') return std::nullopt;
    }
    std::vector<std::string> syllables;
    for (const std::string& lyric : SplitLyricLine(text))
        if (lyric != "R") syllables.push_back(lyric);
    return syllables;
}

std::vector<Recording> ReadFolder(const fs::path& folder) {
    std::map<std::string, std::vector<double>> onsets, ends;
    for (std::string line : SplitText(Cp932ToUtf8(ReadFileBytes(folder / "oto.ini")), "\n")) {
        if (!line.empty() && line.back() == 13) line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::vector<std::string> fields = SplitText(line.substr(eq + 1), ",");
        if (fields.size() != 6) continue;
        // "a -" and "a R" mark where singing ends, not a syllable: counted apart.
        const bool ending = fields[0].ends_with(" -") || fields[0].ends_with(" R");
        (ending ? ends : onsets)[line.substr(0, eq)].push_back(std::stod(fields[1]) +
                                                               std::stod(fields[4]));
    }
    std::vector<Recording> recordings;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".wav") continue;
        const std::string name = PathToUtf8(entry.path().filename());
        const auto syllables = SyllablesOfName(PathToUtf8(entry.path().stem()));
        if (!syllables) continue;
        Recording r{entry.path(), *syllables, onsets[name], ends[name]};
        // Aliases of one sound ("- お" and "- を") label the same onset with
        // identical entries: it is one onset, and one cut can match it.
        std::sort(r.onsetsMs.begin(), r.onsetsMs.end());
        r.onsetsMs.erase(std::unique(r.onsetsMs.begin(), r.onsetsMs.end(),
                                     [](double a, double b) { return b - a < 1.0; }),
                         r.onsetsMs.end());
        r.kanaOnly = name.find('R') == std::string::npos;
        recordings.push_back(std::move(r));
    }
    std::sort(recordings.begin(), recordings.end(),
              [](const auto& a, const auto& b) { return a.path < b.path; });
    return recordings;
}

std::vector<double> SungStarts(const EditorSession& s) {
    std::vector<double> starts;
    for (const Segment& seg : s.Segments)
        if (!IsRestLyric(seg.Lyric)) starts.push_back(seg.StartMs);
    return starts;
}

// Where a sung segment is followed by a rest.
std::vector<double> SungEnds(const EditorSession& s) {
    std::vector<double> ends;
    for (std::size_t i = 0; i + 1 < s.Segments.size(); ++i)
        if (!IsRestLyric(s.Segments[i].Lyric) && IsRestLyric(s.Segments[i + 1].Lyric))
            ends.push_back(s.Segments[i + 1].StartMs);
    return ends;
}

// Onsets matched one to one with starts within `tolerance`, nearest pairs first.
int Matched(const std::vector<double>& onsets, const std::vector<double>& starts,
            double tolerance) {
    struct Pair {
        double d;
        std::size_t o, s;
    };
    std::vector<Pair> pairs;
    for (std::size_t o = 0; o < onsets.size(); ++o)
        for (std::size_t k = 0; k < starts.size(); ++k)
            if (std::abs(onsets[o] - starts[k]) <= tolerance)
                pairs.push_back({std::abs(onsets[o] - starts[k]), o, k});
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.d < b.d; });
    std::vector<bool> usedO(onsets.size()), usedS(starts.size());
    int count = 0;
    for (const Pair& p : pairs) {
        if (usedO[p.o] || usedS[p.s]) continue;
        usedO[p.o] = usedS[p.s] = true;
        ++count;
    }
    return count;
}

double Nearest(double onset, const std::vector<double>& starts) {
    double best = 1e9;
    for (double s : starts) best = std::min(best, std::abs(onset - s));
    return best;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_cutting FOLDER [--verbose]\n");
        return 2;
    }
    const bool verbose = argc > 2 && std::strcmp(argv[2], "--verbose") == 0;
    // --take FILE.wav: what cutting adds to the analysis of a long take (make
    // one with make_long_take): the load as for plain cuts (pitch only), the
    // load as for automatic cuts (with the spectral envelope), and the blind
    // cut itself; best of three each.
    if (argc > 3 && std::strcmp(argv[2], "--take") == 0) {
        SilentPrompts quiet;
        // Processor seconds (all threads): on a busy machine the wall clock
        // says more about the other programs.
        auto best = [](auto&& work) {
            double fastest = 1e9;
            for (int run = 0; run < 3; ++run) {
                const std::clock_t t0 = std::clock();
                work();
                fastest =
                    std::min(fastest, static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC);
            }
            return fastest;
        };
        struct Yes : SilentPrompts {
            bool AskOkCancel(std::string_view) override { return true; }
        } yes;
        const fs::path take = Utf8Path(argv[3]);
        const double plain = best([&] {
            EditorSession s;
            s.LoadRecording(take, yes, {}, LoadScope::PitchOnly);
        });
        const double withEnvelope = best([&] {
            EditorSession s;
            s.LoadRecording(take, yes, {}, LoadScope::SpectrumPeaks);
        });
        EditorSession s;
        s.LoadRecording(take, yes, {}, LoadScope::SpectrumPeaks);
        const double cut = best([&] {
            s.Segments.resize(1);
            s.AutoSegment(quiet);
        });
        std::printf(
            "processor seconds, best of 3: %.0f s take: analysis %.3f s, with the envelope %.3f s "
            "(+%.3f s), blind cut %.3f s: "
            "cutting adds %.3f s (%zu segments)\n",
            s.DurationMs() / 1000.0, plain, withEnvelope, withEnvelope - plain, cut,
            withEnvelope - plain + cut, s.Segments.size());
        return 0;
    }
    // --dump FILE.wav: the per-frame measures of one recording, a line per
    // frame: time [ms], onset strength, sung, loudness [dB], envelope change,
    // loudness rise [dB], traced pitch [Hz], rejected by the voicing check.
    if (argc > 3 && std::strcmp(argv[2], "--dump") == 0) {
        EditorSession s;
        SilentPrompts quiet;
        if (s.LoadRecording(Utf8Path(argv[3]), quiet, {}, LoadScope::SpectrumPeaks) !=
            LoadOutcome::Loaded)
            return 1;
        std::vector<float> pitch;
        for (int i = 0; i < s.FrameCount(); ++i) pitch.push_back(s.Analyser->Frames[i].TargetF0);
        const OnsetMeasures m =
            MeasureOnsets({s.Envelope, s.FrameVolume, pitch, s.RejectedPitchFrames()});
        const std::span<const std::uint8_t> rejected = s.RejectedPitchFrames();
        for (std::size_t i = 0; i < m.strength.size(); ++i)
            std::printf("%6.0f %5.2f %d %5.1f %5.2f %5.1f %6.1f %d\n", (i - 0.5) * 256 / 44.1,
                        m.strength[i], m.sung[i], m.loudnessDb[i], m.change[i], m.rise[i], pitch[i],
                        i < rejected.size() ? rejected[i] : 0);
        return 0;
    }
    const std::vector<Recording> recordings = ReadFolder(Utf8Path(argv[1]));
    SilentPrompts prompts;
    int kanaOnsets = 0, kanaLyricHits = 0, kanaBlindHits = 0, kanaLyricExact = 0,
        kanaBlindExact = 0;
    int endLabels = 0, endHits = 0, kanaOnly = 0;
    int onsets = 0, lyricHits = 0, lyricExact = 0, blindHits = 0, blindExact = 0;
    std::vector<double> distances;
    double cuttingSeconds = 0.0;
    for (const Recording& r : recordings) {
        EditorSession s;
        if (s.LoadRecording(r.path, prompts, {}, LoadScope::SpectrumPeaks) != LoadOutcome::Loaded) {
            std::fprintf(stderr, "%s: not loaded\n", PathToUtf8(r.path).c_str());
            continue;
        }
        const auto t0 = std::chrono::steady_clock::now();
        s.AutoSegment(prompts, r.syllables);
        const auto t1 = std::chrono::steady_clock::now();
        const std::vector<double> guided = SungStarts(s);
        endLabels += static_cast<int>(r.endsMs.size());
        endHits += Matched(r.endsMs, SungEnds(s), 50.0);
        kanaOnly += r.kanaOnly;
        s.Segments.resize(1);
        s.AutoSegment(prompts);
        const auto t2 = std::chrono::steady_clock::now();
        cuttingSeconds += std::chrono::duration<double>(t2 - t0).count();
        (void)t1;
        const std::vector<double> blind = SungStarts(s);

        const int hits = Matched(r.onsetsMs, guided, 50.0);
        const int bhits = Matched(r.onsetsMs, blind, 50.0);
        onsets += static_cast<int>(r.onsetsMs.size());
        lyricHits += hits;
        blindHits += bhits;
        lyricExact += guided.size() == r.syllables.size();
        blindExact += blind.size() == r.syllables.size();
        if (r.kanaOnly) {
            kanaOnsets += static_cast<int>(r.onsetsMs.size());
            kanaLyricHits += hits;
            kanaBlindHits += bhits;
            kanaLyricExact += guided.size() == r.syllables.size();
            kanaBlindExact += blind.size() == r.syllables.size();
        }
        for (double o : r.onsetsMs) distances.push_back(Nearest(o, guided));
        if (verbose) {
            std::printf(
                "%s  syllables %zu  labels %zu | lyrics: %zu segments, %d hit | blind: %zu "
                "segments, %d hit\n",
                PathToUtf8(r.path.filename()).c_str(), r.syllables.size(), r.onsetsMs.size(),
                guided.size(), hits, blind.size(), bhits);
            std::printf("   labels:");
            for (double o : r.onsetsMs) std::printf(" %.0f", o);
            std::printf("\n   lyrics:");
            for (double g : guided) std::printf(" %.0f", g);
            std::printf("\n   blind: ");
            for (double g : blind) std::printf(" %.0f", g);
            std::printf("\n");
        }
    }
    const double n = static_cast<double>(recordings.size());
    std::printf("recordings %zu, labelled onsets %d\n", recordings.size(), onsets);
    std::printf(
        "with lyrics: %.1f %% of onsets within 50 ms, median distance %.1f ms, "
        "segment count = syllables on %.1f %% of recordings\n",
        100.0 * lyricHits / std::max(1, onsets), Median(distances), 100.0 * lyricExact / n);
    std::printf(
        "blind:       recall at 50 ms %.1f %%, segment count = syllables on %.1f %% of "
        "recordings\n",
        100.0 * blindHits / std::max(1, onsets), 100.0 * blindExact / n);
    std::printf(
        "ends of singing (\"a -\", \"a R\" labels, with lyrics): %.1f %% within 50 ms of %d\n",
        100.0 * endHits / std::max(1, endLabels), endLabels);
    std::printf(
        "the %d recordings named by kana alone: with lyrics %.1f %% within 50 ms, count right on "
        "%.1f %%; "
        "blind recall %.1f %%, count right on %.1f %%\n",
        kanaOnly, 100.0 * kanaLyricHits / std::max(1, kanaOnsets),
        100.0 * kanaLyricExact / std::max(1, kanaOnly),
        100.0 * kanaBlindHits / std::max(1, kanaOnsets),
        100.0 * kanaBlindExact / std::max(1, kanaOnly));
    std::printf("cutting time: %.1f ms per recording (both modes)\n", 1000.0 * cuttingSeconds / n);
    return 0;
}

}  // namespace
}  // namespace melodrift

int main(int argc, char** argv) { return melodrift::Run(argc, argv); }
