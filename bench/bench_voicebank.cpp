// Voicebank speed: loading a large synthetic voicebank (50,000 oto.ini
// entries in 8 pitch subfolders, a prefix map), and resolving the aliases of
// 1,000 inserted notes against it, with the lookup index and with a plain
// scan of the table for comparison.
//
// Targets (Release): load under 150 ms; Execute over 1,000 notes under 20 ms.
#include "plugin/NoteList.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/CodePage.h"
#include "voicebank/AliasResolver.h"
#include "voicebank/Voicebank.h"

#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace melodrift;

constexpr int kEntries = 50000;
constexpr int kNotes = 1000;

const std::vector<std::string>& Kana() {
    static const std::vector<std::string> kana = [] {
        const std::string all =
            "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろ"
            "わをん"
            "がぎぐげござじずぜぞだでどばびぶべぼぱぴぷぺぽ";
        std::vector<std::string> out;
        for (std::size_t i = 0; i < all.size(); i += 3)
            out.push_back(all.substr(i, 3));  // UTF-8: 3 bytes each
        return out;
    }();
    return kana;
}

constexpr std::array<const char*, 8> kPitches{"A3", "D4", "G4", "C5", "F5", "A5", "D6", "G6"};
constexpr std::array<const char*, 7> kHeads{"- ", "a ", "i ", "u ", "e ", "o ", "n "};

// The bank, written once: 8 subfolders of 6,250 entries, aliases
// head + kana + pitch (with numbered variants), and a prefix map that gives
// every key the suffix of the nearest recorded pitch.
// Removes the bank when the program ends.
struct FolderRemover {
    fs::path path;
    ~FolderRemover() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& BankFolder() {
    static const FolderRemover folder{[] {
        fs::path root = fs::temp_directory_path() /
                        ("melodrift-bench-voicebank-" + std::to_string(std::random_device{}()));
        fs::remove_all(root);
        fs::create_directories(root);
        const auto& kana = Kana();
        const int perFolder = kEntries / static_cast<int>(kPitches.size());
        for (std::size_t p = 0; p < kPitches.size(); ++p) {
            std::vector<std::string> lines;
            for (int i = 0; i < perFolder; ++i) {
                const std::size_t combo =
                    static_cast<std::size_t>(i) % (kHeads.size() * kana.size());
                const int variant = i / static_cast<int>(kHeads.size() * kana.size());
                std::string alias = std::string(kHeads[combo % kHeads.size()]) +
                                    kana[combo / kHeads.size()] + kPitches[p] +
                                    (variant > 0 ? std::to_string(variant + 1) : "");
                lines.push_back("p" + std::to_string(p) + "_" + std::to_string(i) +
                                ".wav=" + Utf8ToCp932(alias) + ",12.5,80,-200,60.25,20");
            }
            fs::create_directories(root / kPitches[p]);
            WriteFileAtomically(root / kPitches[p] / "oto.ini", JoinLinesCrLf(lines));
        }
        std::vector<std::string> map;
        const std::array<int, 8> pitchNotes{57, 62, 67, 72, 77, 81, 86, 91};
        const std::array<const char*, 12> names{"C",  "C#", "D",  "D#", "E",  "F",
                                                "F#", "G",  "G#", "A",  "A#", "B"};
        for (int n = 24; n <= 107; ++n) {
            std::size_t nearest = 0;
            for (std::size_t p = 1; p < pitchNotes.size(); ++p)
                if (std::abs(pitchNotes[p] - n) < std::abs(pitchNotes[nearest] - n)) nearest = p;
            map.push_back(std::string(names[n % 12]) + std::to_string(n / 12 - 1) + "\t\t" +
                          kPitches[nearest]);
        }
        WriteFileAtomically(root / "prefix.map", JoinLinesCrLf(map));
        return root;
    }()};
    return folder.path;
}

void BM_LoadVoicebank(benchmark::State& state) {
    const std::string dir = PathToUtf8(BankFolder());
    Voicebank bank;
    for (auto _ : state) {
        bank.LoadVoicebank(dir);
        benchmark::DoNotOptimize(bank.OtoCount());
    }
    if (bank.OtoCount() != kEntries) state.SkipWithError("the bank did not load whole");
}
BENCHMARK(BM_LoadVoicebank)->Unit(benchmark::kMillisecond);

// 1,000 notes of typed kana over three octaves, a rest every 16 notes.
struct NoteSet {
    NoteSet() {
        const fs::path file = BankFolder() / "plugin.tmp";
        WriteFileAtomically(file, "[#SETTING]\r\nTempo=120\r\n");
        SilentPrompts prompts;
        notes.LoadFromPluginFile(file, prompts);
        const auto& kana = Kana();
        for (int i = 0; i < kNotes; ++i) {
            Note* note = notes.GetNote(notes.InsertNote(1e12));
            note->Length = 240;
            note->NoteNum = 48 + (i * 7) % 36;
            note->Lyric =
                (i % 16 == 15) ? "R" : kana[(static_cast<std::size_t>(i) * 13) % kana.size()];
            lyrics.push_back(note->Lyric);
        }
        notes.Relink();
        envelope = notes.GetNote(1)->Envelope;
    }
    // Back to the typed lyrics and the default envelopes before each run.
    void Reset() {
        for (int i = 1; i <= kNotes; ++i) {
            Note* note = notes.GetNote(i);
            note->Lyric = lyrics[static_cast<std::size_t>(i - 1)];
            note->Envelope = envelope;
            note->Intensity = 100;
        }
    }
    NoteList notes;
    std::vector<std::string> lyrics;
    std::array<EnvelopePoint, Note::kEnvelopePoints> envelope;
};

void RunExecute(benchmark::State& state, OtoLookup lookup) {
    Voicebank bank(lookup);
    bank.LoadVoicebank(PathToUtf8(BankFolder()));
    static NoteSet set;
    for (auto _ : state) {
        state.PauseTiming();
        set.Reset();
        state.ResumeTiming();
        AliasResolver resolver(bank);
        resolver.Notes = &set.notes;
        resolver.Execute();
    }
    // Sanity: the connected form of a sung lyric was found.
    if (set.notes.GetNote(2)->Lyric == set.lyrics[1])
        state.SkipWithError("aliases were not resolved");
}

void BM_ExecuteIndexed(benchmark::State& state) { RunExecute(state, OtoLookup::Indexed); }
void BM_ExecuteLinearScan(benchmark::State& state) { RunExecute(state, OtoLookup::LinearScan); }
BENCHMARK(BM_ExecuteIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExecuteLinearScan)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
