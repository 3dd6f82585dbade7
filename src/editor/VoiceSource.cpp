#include "editor/VoiceSource.h"

#include "audio/FrequencyTable.h"
#include "audio/PitchAnalyser.h"
#include "editor/Session.h"
#include "system/FileNames.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/NumberFormat.h"
#include "voicebank/Voicebank.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

namespace melodrift {

namespace {

// Pitch written for an unvoiced frame [Hz].
constexpr double kUnvoicedFreqHz = 55.0;
// A sample runs on this long after the next entry's overlap begins [ms].
constexpr double kTailMs = 76.0;

// Bytes that would split an oto.ini line into other fields or lines (in
// UTF-8 an ASCII byte is always a character of its own).
bool BreaksOtoLine(char c) { return c == ',' || c == '=' || c == '\r' || c == '\n'; }

// The lyric as an alias that oto.ini can hold: separators become "_".
std::string OtoSafe(std::string lyric) {
    std::replace_if(lyric.begin(), lyric.end(), BreaksOtoLine, '_');
    return lyric;
}

// The first of lyric, lyric + "1", lyric + "2", … that the voicebank does
// not hold yet; a rest does not take its bare lyric and starts at "0".
std::string FreeAlias(Voicebank& voicebank, const std::string& lyric) {
    const bool rest = IsRestLyric(lyric);
    if (!rest && voicebank.FindOtoIndex(lyric) == -1) return lyric;
    for (long n = rest ? 0 : 1;; ++n) {
        std::string candidate = lyric + std::to_string(n);
        if (voicebank.FindOtoIndex(candidate) == -1) return candidate;
    }
}

}  // namespace

bool RecordingFitsOtoIni(const std::filesystem::path& wavePath) {
    const std::string name = PathToUtf8(wavePath.filename());
    if (name.find_first_of(",=\r\n") != std::string::npos) return false;
    return NativePath(PathToCp932(wavePath)) == wavePath;
}

std::string RecordingNameRefusal(const std::string& fileNameUtf8) {
    return "録音ファイル「" + fileNameUtf8 +
           "」の名前またはフォルダに、「,」「=」か原音設定ファイル（oto.ini）に書けない文字が含まれているため、"
           "音源を作成できません。名前を変えてから読み込み直してください。ファイルには何も書き込んでいません。";
}

bool VoiceEntriesReadBack(const std::filesystem::path& folder, const std::string& fileName,
                          const std::vector<std::string>& aliases) {
    std::error_code ec;
    const std::filesystem::path oto = FindInFolder(folder, "oto.ini").value_or(folder / "oto.ini");
    if (!std::filesystem::is_regular_file(oto, ec)) return false;
    // Read the way a load reads it, in the encoding the file declares or shows.
    Voicebank bank;
    bank.LoadVoicebank(PathToUtf8(folder));
    std::vector<std::string> found;
    for (const OtoEntry& entry : bank.OtoList())
        if (entry.FileName == fileName && entry.FullPath == bank.FullPathFor(fileName)) found.push_back(entry.Alias);
    std::sort(found.begin(), found.end());
    for (const std::string& alias : aliases)
        if (!std::binary_search(found.begin(), found.end(), alias)) return false;
    return true;
}

bool OtoTextHoldsEntries(std::string_view otoBytes, TextEncoding encoding, const std::string& fileName,
                         const std::vector<std::string>& aliases) {
    std::vector<std::string> found;
    for (const std::string& line : SplitLines(DecodeText(otoBytes, encoding))) {
        const std::optional<OtoEntry> entry = ParseOtoLine(line);
        if (entry && entry->FileName == fileName) found.push_back(entry->Alias);
    }
    std::sort(found.begin(), found.end());
    for (const std::string& alias : aliases)
        if (!std::binary_search(found.begin(), found.end(), alias)) return false;
    return true;
}

std::filesystem::path FrequencyTablePath(const std::filesystem::path& wavePath) {
    std::filesystem::path name = wavePath.stem();
    name += "_wav.frq";
    return wavePath.parent_path() / name;
}

void FillFrequencyTable(const EditorSession& session, FrequencyTable& table) {
    const AnalysisFrames& frames = session.Analyser->Frames;
    const int count = session.FrameCount();
    table.SetCount(count);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const float f0Hz = frames[index].TargetF0;
        table.Items[index].Freq = f0Hz == 0.0f ? kUnvoicedFreqHz : static_cast<double>(f0Hz);
        table.Items[index].Amp =
            index < session.FrameVolume.size() ? static_cast<double>(session.FrameVolume[index]) : 0.0;
    }
}

bool WriteFrequencyTable(const EditorSession& session, Prompts& prompts) {
    FileTransaction files;
    const bool added = WriteFrequencyTable(session, prompts, files);
    files.Commit();
    return added;
}

bool WriteFrequencyTable(const EditorSession& session, Prompts& prompts, FileTransaction& files) {
    if (session.WaveFileName.empty() || !std::filesystem::exists(session.WaveFileName)) return false;
    if (session.FrameCount() == 0) return false;
    const std::filesystem::path path = FrequencyTablePath(session.WaveFileName);
    if (std::filesystem::exists(path)) {
        prompts.Beep();
        if (!prompts.AskYesNo("周波数表を上書きしますか?")) return false;
    }
    FrequencyTable table;
    FillFrequencyTable(session, table);
    table.SaveToFile(path, files);
    return true;
}

std::vector<VoiceEntryTiming> VoiceEntryTimings(const std::vector<double>& startsMs, double durationMs,
                                                double crPreUtterance, double crVoiceOverlap,
                                                double crConsonant) {
    std::vector<VoiceEntryTiming> entries;
    entries.reserve(startsMs.size());
    const std::size_t n = startsMs.size();
    double nextPre = crPreUtterance;
    double nextOverlap = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double start = startsMs[i];
        const bool last = i + 1 == n;
        const double span = last ? 0.0 : startsMs[i + 1] - start;

        VoiceEntryTiming entry;
        double pre = nextPre;
        if (start - pre < 0.0) pre = start;
        entry.PreUtterance = pre;
        entry.Consonant = last ? crConsonant : std::min(crConsonant, span / 3.0 + pre);
        entry.Overlap = i == 0 ? 0.0 : nextOverlap;

        nextPre = last ? 0.0 : std::min(crPreUtterance, span / 2.0);
        // The overlap keeps its ratio to the pre-utterance. Without a
        // pre-utterance there is no room for an overlap (and no ratio).
        nextOverlap = crVoiceOverlap != 0.0 && crPreUtterance != 0.0
                          ? crVoiceOverlap / crPreUtterance * nextPre
                          : 0.0;

        double cutoff = last ? -(durationMs - start + pre) : -(span + pre - nextPre + nextOverlap + kTailMs);
        if (durationMs < pre - cutoff) cutoff = -(durationMs - start + pre);
        entry.Cutoff = cutoff;
        entry.Offset = start - pre;
        entries.push_back(entry);
    }
    return entries;
}

bool WriteVoiceEntries(EditorSession& session, Voicebank& voicebank) {
    FileTransaction files;
    const bool made = WriteVoiceEntries(session, voicebank, files);
    files.Commit();
    return made;
}

bool WriteVoiceEntries(EditorSession& session, Voicebank& voicebank, FileTransaction& files) {
    if (session.WaveFileName.empty() || !std::filesystem::exists(session.WaveFileName)) return false;
    if (session.FrameCount() == 0 || session.Segments.empty()) return false;

    const std::filesystem::path& wave = session.WaveFileName;
    const std::string folder = PathToUtf8(wave.parent_path());
    const std::string fileName = PathToUtf8(wave.filename());
    voicebank.LoadVoicebank(folder);
    voicebank.RemoveOtoByPath(voicebank.FullPathFor(fileName));

    std::vector<double> starts;
    starts.reserve(session.Segments.size());
    for (const Segment& segment : session.Segments) starts.push_back(segment.StartMs);
    const std::vector<VoiceEntryTiming> timings =
        VoiceEntryTimings(starts, session.DurationMs(), session.CorrectionPreUtterance, session.CorrectionOverlap,
                          session.CorrectionConsonant);

    for (std::size_t i = 0; i < session.Segments.size(); ++i) {
        Segment& segment = session.Segments[i];
        segment.Lyric = FreeAlias(voicebank, OtoSafe(segment.Lyric));
        const VoiceEntryTiming& t = timings[i];
        std::string line = fileName + "=" + segment.Lyric;
        for (double value : {t.Offset, t.Consonant, t.Cutoff, t.PreUtterance, t.Overlap}) {
            line += ',';
            line += FormatInteger(HalfUp(value));
        }
        voicebank.AddOtoLine(line);
    }
    if (!voicebank.WriteOtoIni(files)) return false;
    std::vector<std::string> aliases;
    aliases.reserve(session.Segments.size());
    for (const Segment& segment : session.Segments) aliases.push_back(segment.Lyric);
    // The oto.ini goes out with the other files in one commit; its entries are
    // read back from the exact bytes it will hold. Notes whose entries are not
    // there would sing nothing of the recording, so Insert stops before any
    // file is written.
    if (!OtoTextHoldsEntries(voicebank.OtoIniText(), voicebank.OtoEncoding(), fileName, aliases))
        throw std::runtime_error("音源の原音設定（oto.ini）に書き込んだ内容を読み戻せませんでした。"
                                 "プラグインファイルは変更していません。");
    return true;
}

}  // namespace melodrift
