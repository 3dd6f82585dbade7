// How faithfully the inserted notes sing the recorded pitch.
//
// A small generator makes sung test recordings whose pitch is known sample by
// sample: vowels (harmonic sums shaped by formants) with onset glides, scoops
// and vibrato; unvoiced fricatives (s, sh, h) and plosives (closure, burst,
// aspiration) before them; breaths between phrases and rests around them.
// Each recording goes the way a user takes it: load and analyse, automatic
// segmentation, one lyric per voiced segment, the edit state saved and
// loaded again (the analysis is redone from the file), Insert into a plug-in
// file at tempo 120 (Mode2). The written plug-in file is read back and its
// pitch rendered as a host sings it: NoteNum × 100 plus the Mode2 points
// (PBS start, PBW widths, PBY values), linear between them.
//
// Per analysis frame (every 256 samples) inside a sung note the rendered
// pitch is compared with the truth; over unvoiced stretches the truth is the
// nearest voiced pitch. Reported with the voicing check off, on, and with
// the generator's own voicing in its place (frames truly unvoiced stored
// without pitch: what bridging across consonants alone leaves):
//   off300  share of frames inside sung notes more than 300 cents off,
//   in50    share of truly voiced frames inside sung notes within 50 cents,
//   median  median absolute error on those voiced frames [cents],
// and, over the written notes, values outside the hosts' ranges (PBY beyond
// ±204.7) and Lengths that are not whole ticks.
//
// Usage: bench_voicing [RECORDINGS (default 20)] [--keep FOLDER]
#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/Insertion.h"
#include "editor/Session.h"
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "voicebank/Voicebank.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace melodrift {
namespace {

namespace fs = std::filesystem;

constexpr double kRate = 44100.0;
constexpr double kTempo = 120.0;

// ---- Deterministic random numbers (splitmix64), the same on every platform.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(Next() >> 11) * 0x1.0p-53;
    }
    int Pick(int count) { return static_cast<int>(Next() % static_cast<std::uint64_t>(count)); }
    // Roughly normal noise, unit variance (sum of four uniforms).
    double Noise() {
        double s = 0.0;
        for (int i = 0; i < 4; ++i) s += Uniform(-1.0, 1.0);
        return s * std::sqrt(3.0 / 4.0);
    }

  private:
    std::uint64_t state_;
};

// Band-pass biquad (constant 0 dB peak gain), RBJ cookbook.
class BandPass {
  public:
    BandPass(double centreHz, double q) {
        const double w = 2.0 * std::numbers::pi * centreHz / kRate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        b0_ = alpha / a0;
        b2_ = -alpha / a0;
        a1_ = -2.0 * std::cos(w) / a0;
        a2_ = (1.0 - alpha) / a0;
    }
    double Step(double x) {
        const double y = b0_ * x + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

  private:
    double b0_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// A recording under construction: samples and the true f0 per sample (0 =
// unvoiced).
struct Take {
    std::vector<double> samples;
    std::vector<double> f0Hz;
    void Append(double sample, double f0) {
        samples.push_back(sample);
        f0Hz.push_back(f0);
    }
};

struct Formants {
    double f[3];
};
constexpr Formants kVowels[] = {
    {{800, 1200, 2500}},  // a
    {{300, 2300, 3000}},  // i
    {{350, 1300, 2400}},  // u
    {{500, 1900, 2600}},  // e
    {{500, 900, 2400}},   // o
};

// Magnitude of a second-order resonance at f [Hz].
double Resonance(double f, double centre, double bandwidth) {
    const double c2 = centre * centre;
    return c2 / std::sqrt((c2 - f * f) * (c2 - f * f) + bandwidth * bandwidth * f * f);
}

double VowelGain(const Formants& v, double f) {
    return Resonance(f, v.f[0], 90.0) * Resonance(f, v.f[1], 110.0) * Resonance(f, v.f[2], 160.0);
}

void Silence(Take& take, Random& rnd, double ms, double level = 0.0005) {
    const auto n = static_cast<int>(ms * kRate / 1000.0);
    for (int i = 0; i < n; ++i) take.Append(level * rnd.Noise(), 0.0);
}

// Shaped noise: a band-pass at `centreHz`, raised-cosine fades of `fadeMs`.
void NoiseBurst(Take& take, Random& rnd, double ms, double centreHz, double q, double level,
                double fadeMs) {
    BandPass filter(centreHz, q);
    BandPass filter2(centreHz, q);
    const auto n = static_cast<int>(ms * kRate / 1000.0);
    const double fade = std::max(1.0, fadeMs * kRate / 1000.0);
    for (int i = 0; i < n; ++i) {
        double g = 1.0;
        if (i < fade) g = 0.5 - 0.5 * std::cos(std::numbers::pi * i / fade);
        if (n - i < fade) g = std::min(g, 0.5 - 0.5 * std::cos(std::numbers::pi * (n - i) / fade));
        take.Append(level * g * 4.0 * filter2.Step(filter.Step(rnd.Noise())), 0.0);
    }
}

enum class Consonant { None, S, Sh, H, K, T, P, M };

void AddConsonant(Take& take, Random& rnd, Consonant c, double level) {
    switch (c) {
        case Consonant::None:
        case Consonant::M:
            return;
        case Consonant::S:
            NoiseBurst(take, rnd, rnd.Uniform(90, 160), rnd.Uniform(5500, 7500), 1.5,
                       level * rnd.Uniform(0.3, 0.6), 20);
            return;
        case Consonant::Sh:
            NoiseBurst(take, rnd, rnd.Uniform(90, 150), rnd.Uniform(3000, 4200), 1.2,
                       level * rnd.Uniform(0.3, 0.6), 20);
            return;
        case Consonant::H:
            NoiseBurst(take, rnd, rnd.Uniform(60, 110), rnd.Uniform(1200, 2200), 0.7,
                       level * rnd.Uniform(0.15, 0.3), 25);
            return;
        case Consonant::K:
        case Consonant::T:
        case Consonant::P: {
            const double centre = c == Consonant::K ? 2200.0 : c == Consonant::T ? 4500.0 : 900.0;
            Silence(take, rnd, rnd.Uniform(30, 60));
            NoiseBurst(take, rnd, rnd.Uniform(6, 12), centre, 0.8, level * rnd.Uniform(0.5, 0.9),
                       1);
            NoiseBurst(take, rnd, rnd.Uniform(25, 60), centre, 0.6, level * rnd.Uniform(0.1, 0.25),
                       10);
            return;
        }
    }
}

// A vowel from `fromHz` gliding to `toHz` over `glideMs`, then held with
// vibrato; `nasalMs` of murmur (a low formant) first when the onset is a nasal.
void AddVowel(Take& take, Random& rnd, const Formants& vowel, double fromHz, double toHz,
              double glideMs, double lengthMs, double level, double nasalMs) {
    const auto n = static_cast<int>(lengthMs * kRate / 1000.0);
    const auto nasal = static_cast<int>(nasalMs * kRate / 1000.0);
    const double rateHz = rnd.Uniform(5.0, 6.5);
    const double depthCents = rnd.Uniform(25, 80);
    const double vibratoStartMs = rnd.Uniform(150, 250);
    const double attack = 0.02 * kRate;
    const double release = 0.03 * kRate;
    constexpr int kHarmonics = 60;
    std::vector<double> phase(kHarmonics + 1, 0.0);
    double vibPhase = rnd.Uniform(0, 2 * std::numbers::pi);
    const Formants murmur{{250, 1100, 2500}};
    for (int i = 0; i < n + nasal; ++i) {
        const double tMs = (i - nasal) * 1000.0 / kRate;
        double cents = 1200.0 * std::log2(toHz / fromHz);
        double base = fromHz;
        if (tMs < glideMs) {
            const double x = std::max(0.0, tMs) / glideMs;
            cents *= 0.5 - 0.5 * std::cos(std::numbers::pi * x);
        }
        double vib = 0.0;
        if (tMs > vibratoStartMs) {
            const double fadeIn = std::min(1.0, (tMs - vibratoStartMs) / 150.0);
            vib = depthCents * fadeIn * std::sin(vibPhase);
            vibPhase += 2 * std::numbers::pi * rateHz / kRate;
        }
        const double f0 = base * std::pow(2.0, (cents + vib) / 1200.0);
        const Formants& shape = i < nasal ? murmur : vowel;
        double s = 0.0;
        for (int h = 1; h <= kHarmonics; ++h) {
            const double f = h * f0;
            if (f > 8000.0) break;
            phase[static_cast<std::size_t>(h)] += 2 * std::numbers::pi * f / kRate;
            s += VowelGain(shape, f) / h * std::sin(phase[static_cast<std::size_t>(h)]);
        }
        double g = 1.0;
        if (i < attack) g = i / attack;
        if (n + nasal - i < release) g = std::min(g, (n + nasal - i) / release);
        if (i < nasal) g *= 0.3;
        take.Append(level * g * 0.05 * s + 0.002 * level * rnd.Noise(), f0);
    }
}

// One sung test recording: rests, two or three phrases of syllables with
// breaths between them.
Take MakeTake(int index) {
    Random rnd(0x5eed0000u + static_cast<std::uint64_t>(index));
    Take take;
    const bool high = index % 2 == 1;
    const double baseHz = high ? rnd.Uniform(200, 300) : rnd.Uniform(85, 165);
    static constexpr int kScale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    Silence(take, rnd, rnd.Uniform(200, 400));
    const int phrases = 2 + rnd.Pick(2);
    for (int p = 0; p < phrases; ++p) {
        if (p > 0) {
            Silence(take, rnd, rnd.Uniform(60, 150));
            NoiseBurst(take, rnd, rnd.Uniform(250, 450), rnd.Uniform(900, 1600), 0.5,
                       rnd.Uniform(0.02, 0.05), 120);
            Silence(take, rnd, rnd.Uniform(60, 150));
        }
        double previousHz = 0.0;
        const int syllables = 3 + rnd.Pick(4);
        for (int s = 0; s < syllables; ++s) {
            const auto consonant = static_cast<Consonant>(rnd.Pick(8));
            const double level = rnd.Uniform(0.35, 0.8);
            const double toHz = baseHz * std::pow(2.0, kScale[rnd.Pick(8)] / 12.0);
            AddConsonant(take, rnd, consonant, level);
            // Legato onsets glide from the previous note, others scoop up.
            const bool legato =
                previousHz > 0.0 && (consonant == Consonant::None || consonant == Consonant::M);
            const double fromHz =
                legato ? previousHz : toHz * std::pow(2.0, -rnd.Uniform(30, 150) / 1200.0);
            const double nasalMs = consonant == Consonant::M ? rnd.Uniform(40, 80) : 0.0;
            AddVowel(take, rnd, kVowels[rnd.Pick(5)], fromHz, toHz, rnd.Uniform(50, 120),
                     rnd.Uniform(250, 600), level, nasalMs);
            previousHz = toHz;
        }
    }
    Silence(take, rnd, rnd.Uniform(250, 400));
    return take;
}

void SaveTake(const Take& take, const fs::path& path) {
    WaveBuffer wave = MakeMono16Wave(static_cast<std::uint32_t>(take.samples.size()));
    for (std::size_t i = 0; i < take.samples.size(); ++i) {
        const double v = std::clamp(take.samples[i] * 32767.0, -32768.0, 32767.0);
        wave.SetSample(static_cast<std::uint32_t>(i), 0, static_cast<std::int32_t>(std::lround(v)));
    }
    WriteFileAtomically(path, wave.SaveToBytes());
}

// ---- The written notes, read back ---------------------------------------------

struct WrittenNote {
    double lengthTicks = 0.0;
    int noteNum = 60;
    std::string lyric;
    std::vector<double> timesMs;   // Mode2 points, from the note's start
    std::vector<double> centsOff;  // their values [cents]
};

std::vector<double> Numbers(const std::string& text, char separator) {
    std::vector<double> out;
    std::size_t p = 0;
    while (p <= text.size()) {
        const std::size_t q = std::min(text.find(separator, p), text.size());
        const std::string item = text.substr(p, q - p);
        out.push_back(item.empty() ? 0.0 : std::atof(item.c_str()));
        p = q + 1;
    }
    return out;
}

std::vector<WrittenNote> ReadInsertedNotes(const fs::path& path) {
    std::vector<WrittenNote> notes;
    const std::string text = ReadFileBytes(path);
    std::size_t p = 0;
    bool inInsert = false;
    std::vector<double> pbw;
    std::vector<double> pby;
    std::string pbs;
    auto finish = [&] {
        if (!inInsert) return;
        WrittenNote& note = notes.back();
        if (!pbs.empty()) {
            const std::vector<double> start = Numbers(pbs, ';');
            double t = start[0];
            note.timesMs.push_back(t);
            note.centsOff.push_back(start.size() > 1 ? start[1] * 10.0 : 0.0);
            for (std::size_t k = 0; k < pbw.size(); ++k) {
                t += pbw[k];
                note.timesMs.push_back(t);
                note.centsOff.push_back(k < pby.size() ? pby[k] * 10.0 : 0.0);
            }
        }
        pbw.clear();
        pby.clear();
        pbs.clear();
    };
    while (p < text.size()) {
        std::size_t e = text.find('\n', p);
        if (e == std::string::npos) e = text.size();
        std::string line = text.substr(p, e - p);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        p = e + 1;
        if (!line.empty() && line[0] == '[') {
            finish();
            inInsert = line == "[#INSERT]";
            if (inInsert) notes.emplace_back();
            continue;
        }
        if (!inInsert) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "Length")
            notes.back().lengthTicks = std::atof(value.c_str());
        else if (key == "NoteNum")
            notes.back().noteNum = std::atoi(value.c_str());
        else if (key == "Lyric")
            notes.back().lyric = value;
        else if (key == "PBS")
            pbs = value;
        else if (key == "PBW")
            pbw = Numbers(value, ',');
        else if (key == "PBY")
            pby = Numbers(value, ',');
    }
    finish();
    return notes;
}

// The pitch a host sings at `tMs` from the note's start [cents].
double RenderedCents(const WrittenNote& note, double tMs) {
    double bend = 0.0;
    const auto& t = note.timesMs;
    const auto& v = note.centsOff;
    if (!t.empty()) {
        if (tMs <= t.front())
            bend = v.front();
        else if (tMs >= t.back())
            bend = v.back();
        else {
            for (std::size_t k = 1; k < t.size(); ++k) {
                if (tMs <= t[k]) {
                    const double span = t[k] - t[k - 1];
                    bend = span > 0 ? v[k - 1] + (v[k] - v[k - 1]) * (tMs - t[k - 1]) / span : v[k];
                    break;
                }
            }
        }
    }
    return note.noteNum * 100.0 + bend;
}

// ---- One run ------------------------------------------------------------------------

struct Tally {
    long framesInNotes = 0;
    long off300 = 0;
    long off300Voiced = 0;   // of those, frames whose truth is voiced
    long off300Onset = 0;    // of those, within 50 ms of the note's start
    long off300Kept = 0;     // of those, traced voiced and kept by the check
    long off300Bridged = 0;  // of those, traced unvoiced or rejected (bridged)
    long clampedValues = 0;  // values the writer clamped into the hosts' ranges
    long voicedFrames = 0;
    long within50 = 0;
    std::vector<double> voicedErrors;
    long notes = 0;
    long outOfRange = 0;
    long fractionalLengths = 0;
    double worstEndTicks = 0.0;
};

class BenchPrompts : public SilentPrompts {
  public:
    bool AskOkCancel(std::string_view) override { return true; }  // long recordings are analysed
};

double HzToCentsExact(double hz) { return 1200.0 * std::log2(hz / 220.0) + 5700.0; }

// How the pitch is voiced: raw analysis, the voicing check, or the truth's
// own voicing (the floor that bridging across consonants leaves).
enum class Voicing { Off, Check, Truth };

void RunTake(const Take& take, const fs::path& folder, Voicing voicing, Tally& tally) {
    const bool check = voicing == Voicing::Check;
    const fs::path wave = folder / "take.wav";
    const fs::path state = folder / "take.mlq";
    const fs::path plugin = folder / "plugin.tmp";
    fs::remove(state);
    SaveTake(take, wave);
    BenchPrompts prompts;
    {
        EditorSession session;
        session.VoicingCheck = check;
        if (session.LoadRecording(wave, prompts) != LoadOutcome::Loaded)
            throw std::runtime_error("load failed");
        if (voicing == Voicing::Truth) {
            // Frames truly unvoiced are stored without pitch.
            session.VoicingCheck = true;
            for (std::size_t i = 0; i < session.PitchRejected.size(); ++i) {
                const std::size_t s = std::min(i * HopSize, take.f0Hz.size() - 1);
                session.PitchRejected[i] = take.f0Hz[s] > 0.0 ? 0 : 1;
            }
        }
        session.AutoSegment(prompts);
        // One lyric per segment that is mostly truly voiced.
        for (std::size_t n = 0; n < session.Segments.size(); ++n) {
            const Segment& seg = session.Segments[n];
            const auto a = static_cast<std::size_t>(seg.StartMs * 44.1);
            const auto b = std::min(take.f0Hz.size(),
                                    static_cast<std::size_t>((seg.StartMs + seg.LengthMs) * 44.1));
            std::size_t voiced = 0;
            for (std::size_t i = a; i < b; ++i) voiced += take.f0Hz[i] > 0.0;
            if (b > a && voiced * 10 >= (b - a) * 3) session.Segments[n].Lyric = "あ";
        }
        session.SaveEditStateTo(state);
    }
    WriteFileAtomically(plugin, JoinLinesCrLf({"[#SETTING]", "Tempo=120",
                                               "VoiceDir=" + PathToCp932(folder / "nobank"),
                                               "[#0000]", "Length=480", "Lyric=R", "NoteNum=60"}));
    Voicebank voicebank;
    EditorSession session;
    session.VoicingCheck = check;
    session.Notes = std::make_unique<NoteList>(&voicebank);
    session.Notes->LoadFromPluginFile(plugin, prompts);
    if (session.LoadEditStateFrom(state, prompts) != EditStateOutcome::Loaded)
        throw std::runtime_error("state failed");
    session.Modified = false;
    Insert(session, voicebank, prompts);

    tally.clampedValues += session.Notes->ClampedValues;
    const std::vector<WrittenNote> notes = ReadInsertedNotes(plugin);
    // Truth per frame, unvoiced frames taking the nearest voiced pitch.
    const std::size_t frames = take.samples.size() / HopSize + 1;
    std::vector<double> truth(frames, 0.0);
    std::vector<bool> voiced(frames, false);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t s = std::min(i * HopSize, take.samples.size() - 1);
        if (take.f0Hz[s] > 0.0) {
            truth[i] = HzToCentsExact(take.f0Hz[s]);
            voiced[i] = true;
        }
    }
    std::vector<double> nearest(frames, 0.0);
    std::vector<long> distance(frames, 1L << 40);
    for (int pass = 0; pass < 2; ++pass) {
        long last = -1;
        for (std::size_t k = 0; k < frames; ++k) {
            const std::size_t i = pass == 0 ? k : frames - 1 - k;
            if (voiced[i]) last = static_cast<long>(i);
            if (last < 0) continue;
            const long d = std::labs(static_cast<long>(i) - last);
            if (d < distance[i]) {
                distance[i] = d;
                nearest[i] = truth[static_cast<std::size_t>(last)];
            }
        }
    }

    const double msPerTick = 125.0 / kTempo;
    double startMs = 0.0;
    double endTicks = 0.0;
    for (const WrittenNote& note : notes) {
        ++tally.notes;
        if (note.lengthTicks != std::floor(note.lengthTicks)) ++tally.fractionalLengths;
        for (double v : note.centsOff)
            if (std::fabs(v) > 2047.0) ++tally.outOfRange;
        const double lengthMs = note.lengthTicks * msPerTick;
        endTicks += note.lengthTicks;
        if (note.lyric != "R" && note.lyric != "r") {
            const auto first = static_cast<std::size_t>(std::ceil(startMs * 44.1 / HopSize));
            for (std::size_t i = first; i < frames && i * HopSize / 44.1 < startMs + lengthMs;
                 ++i) {
                const double tMs = i * HopSize / 44.1;
                const double sung = RenderedCents(note, tMs - startMs);
                const double error = std::fabs(sung - nearest[i]);
                ++tally.framesInNotes;
                if (error > 300.0) {
                    ++tally.off300;
                    if (voiced[i]) ++tally.off300Voiced;
                    if (tMs - startMs < 50.0) ++tally.off300Onset;
                    const bool traced = i < session.Analyser->Frames.size() &&
                                        session.Analyser->Frames[i].TargetF0 > 0.0f;
                    const std::span<const std::uint8_t> rejected = session.RejectedPitchFrames();
                    const bool kept = traced && !(i < rejected.size() && rejected[i] != 0);
                    if (kept)
                        ++tally.off300Kept;
                    else
                        ++tally.off300Bridged;
                }
                if (voiced[i]) {
                    ++tally.voicedFrames;
                    if (error <= 50.0) ++tally.within50;
                    tally.voicedErrors.push_back(error);
                }
            }
        }
        startMs += lengthMs;
    }
    const double recordingTicks = take.samples.size() / 44.1 * kTempo / 125.0;
    tally.worstEndTicks = std::max(tally.worstEndTicks, std::fabs(endTicks - recordingTicks));
}

void Report(const char* name, Tally& t) {
    std::sort(t.voicedErrors.begin(), t.voicedErrors.end());
    const double median = t.voicedErrors.empty() ? 0.0 : t.voicedErrors[t.voicedErrors.size() / 2];
    std::printf(
        "%-16s >300 cents off %5.2f %% of %ld frames in sung notes  within 50 cents %6.2f %% of "
        "%ld voiced "
        "frames  median %4.1f cents\n",
        name, 100.0 * t.off300 / std::max(1L, t.framesInNotes), t.framesInNotes,
        100.0 * t.within50 / std::max(1L, t.voicedFrames), t.voicedFrames, median);
    std::printf(
        "%-16s   of the frames >300 off: %ld on voiced truth, %ld in a note's first 50 ms, %ld "
        "sung as "
        "traced, %ld bridged\n",
        "", t.off300Voiced, t.off300Onset, t.off300Kept, t.off300Bridged);
    std::printf(
        "%-16s   %ld notes, %ld values clamped by the writer, %ld written values outside the "
        "hosts' range, "
        "%ld fractional Lengths, last note's end at most %.2f ticks from the recording's\n",
        "", t.notes, t.clampedValues, t.outOfRange, t.fractionalLengths, t.worstEndTicks);
}

}  // namespace
}  // namespace melodrift

int main(int argc, char** argv) {
    using namespace melodrift;
    int count = 20;
    fs::path keep;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keep" && i + 1 < argc)
            keep = argv[++i];
        else
            count = std::max(1, std::atoi(arg.c_str()));
    }
    const fs::path folder = fs::temp_directory_path() / "melodrift-bench-voicing";
    fs::remove_all(folder);
    fs::create_directories(folder);
    Tally off;
    Tally on;
    Tally truth;
    for (int i = 0; i < count; ++i) {
        const Take take = MakeTake(i);
        RunTake(take, folder, Voicing::Off, off);
        RunTake(take, folder, Voicing::Check, on);
        RunTake(take, folder, Voicing::Truth, truth);
        if (!keep.empty()) {
            fs::create_directories(keep);
            SaveTake(take, keep / ("take" + std::to_string(i) + ".wav"));
        }
    }
    std::printf("%d generated recordings, tempo 120, Mode2\n", count);
    Report("check off", off);
    Report("check on", on);
    Report("truth's voicing", truth);
    fs::remove_all(folder);
    return 0;
}
