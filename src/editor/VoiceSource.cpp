#include "editor/VoiceSource.h"

#include "audio/FrequencyTable.h"
#include "audio/PitchAnalyser.h"
#include "editor/Session.h"
#include "system/FileNames.h"
#include "text/Kana.h"
#include "system/Files.h"
#include "text/NumberFormat.h"
#include "system/Prompts.h"
#include "voicebank/OtoIniEdit.h"
#include "voicebank/Voicebank.h"

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <system_error>

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

// The encoding of `folder`'s own oto.ini as a load reads it; nothing when
// the folder has none (a new file is then written in whatever its lines need).
std::optional<TextEncoding> OtoIniEncodingIn(std::filesystem::path folder) {
    if (folder.empty()) folder = ".";
    folder = FindExistingPath(folder);
    std::error_code ec;
    const std::filesystem::path oto = FindInFolder(folder, "oto.ini").value_or(folder / "oto.ini");
    if (!std::filesystem::is_regular_file(oto, ec)) return std::nullopt;
    try {
        return OtoIniEncoding(oto, DeclaredTextEncoding(folder));
    } catch (const std::exception&) {
        return TextEncoding::ShiftJis;  // unreadable: the write reports it; assume the strictest
    }
}

}  // namespace

bool RecordingFitsOtoIni(const std::filesystem::path& wavePath) {
    const std::string stored = PathToUtf8(wavePath.filename());
    // A name that is not text (bytes no encoding reads) cannot be written.
    if (Utf8Path(stored) != wavePath.filename()) return false;
    const std::string name = ComposedFileName(stored);
    if (name.find_first_of(",=\r\n") != std::string::npos) return false;
    // Only the file name goes into the lines, in the oto.ini's own encoding:
    // a UTF-8 file holds any name, and a new file becomes UTF-8 where needed.
    const std::optional<TextEncoding> encoding = OtoIniEncodingIn(wavePath.parent_path());
    return encoding != TextEncoding::ShiftJis || ShiftJisHoldsExactly(name);
}

std::string RecordingNameRefusal(const std::string& fileNameUtf8) {
    const std::string name = ComposedFileName(fileNameUtf8);
    if (name.find_first_of(",=\r\n") != std::string::npos)
        return "録音ファイル「" + name +
               "」の名前に「,」「=」か改行が含まれているため、原音設定ファイル（oto."
               "ini）に書けず、音源を作成できません。"
               "名前を変えてから読み込み直してください。ファイルには何も書き込んでいません。";
    std::string character;
    for (std::string_view c : Utf8Chars(name)) {
        if (ShiftJisHoldsExactly(c)) continue;
        character = "「" + std::string(c) + "」";
        break;
    }
    return "録音ファイル「" + name + "」の名前の文字" + character +
           "は、このフォルダの原音設定ファイル（oto.ini）の文字コード（Shift-"
           "JIS）で書けないため、音源を作成できません。"
           "名前を変えるか、oto.ini をUTF-8（BOM付き）で保存し直してから読み込み直してください。"
           "ファイルには何も書き込んでいません。";
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
        if (entry.FileName == fileName && entry.FullPath == bank.FullPathFor(fileName))
            found.push_back(entry.Alias);
    std::sort(found.begin(), found.end());
    for (const std::string& alias : aliases)
        if (!std::binary_search(found.begin(), found.end(), alias)) return false;
    return true;
}

bool OtoTextHoldsEntries(std::string_view otoBytes, TextEncoding encoding,
                         const std::string& fileName, const std::vector<std::string>& aliases) {
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
    const std::span<const std::uint8_t> rejectedFrames = session.RejectedPitchFrames();
    table.SetCount(count);
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        // A frame the voicing check rejects (consonant or breath noise traced
        // as a pitch) is unvoiced here too: a resampler would shift the
        // voice by that chirp.
        const bool rejected = index < rejectedFrames.size() && rejectedFrames[index] != 0;
        const float f0Hz = rejected ? 0.0f : frames[index].TargetF0;
        table.Items[index].Freq = f0Hz == 0.0f ? kUnvoicedFreqHz : static_cast<double>(f0Hz);
        table.Items[index].Amp = index < session.FrameVolume.size()
                                     ? static_cast<double>(session.FrameVolume[index])
                                     : 0.0;
    }
}

bool WriteFrequencyTable(const EditorSession& session, Prompts& prompts) {
    FileTransaction files;
    const bool added = WriteFrequencyTable(session, prompts, files);
    files.Commit();
    return added;
}

bool WriteFrequencyTable(const EditorSession& session, Prompts& prompts, FileTransaction& files) {
    if (session.WaveFileName.empty() || !std::filesystem::exists(session.WaveFileName))
        return false;
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

std::vector<VoiceEntryTiming> VoiceEntryTimings(const std::vector<double>& startsMs,
                                                double durationMs, double crPreUtterance,
                                                double crVoiceOverlap, double crConsonant) {
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

        double cutoff =
            last ? -(durationMs - start + pre) : -(span + pre - nextPre + nextOverlap + kTailMs);
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
    if (session.WaveFileName.empty() || !std::filesystem::exists(session.WaveFileName))
        return false;
    if (session.FrameCount() == 0 || session.Segments.empty()) return false;

    const std::filesystem::path& wave = session.WaveFileName;
    const std::string folder = PathToUtf8(wave.parent_path());
    // The name as the file system gave it, and composed (NFC), the form the
    // hosts look a sample up by; the lines are written with the composed one,
    // and earlier lines in either form are the recording's own.
    const std::string storedName = PathToUtf8(wave.filename());
    const std::string fileName = ComposedFileName(storedName);
    voicebank.LoadVoicebank(folder);
    voicebank.RemoveOtoByPath(voicebank.FullPathFor(fileName));
    if (storedName != fileName) voicebank.RemoveOtoByPath(voicebank.FullPathFor(storedName));

    std::vector<double> starts;
    starts.reserve(session.Segments.size());
    for (const Segment& segment : session.Segments) starts.push_back(segment.StartMs);
    const std::vector<VoiceEntryTiming> timings =
        VoiceEntryTimings(starts, session.DurationMs(), session.CorrectionPreUtterance,
                          session.CorrectionOverlap, session.CorrectionConsonant);

    std::vector<std::string> lines;
    std::vector<std::string> aliases;
    lines.reserve(session.Segments.size());
    aliases.reserve(session.Segments.size());
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
        lines.push_back(std::move(line));
        aliases.push_back(segment.Lyric);
    }

    const std::filesystem::path root = FindExistingPath(Utf8Path(folder));
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) return false;
    // The folder's own oto.ini, whatever the case of its name. Only the
    // recording's lines change in it; every other byte is the user's.
    const std::filesystem::path oto = FindInFolder(root, "oto.ini").value_or(root / "oto.ini");
    const std::filesystem::file_status status = std::filesystem::status(oto, ec);
    const bool existed = std::filesystem::exists(status);
    // A folder, pipe or device in the file's place is never read or replaced.
    if (std::filesystem::is_directory(status))
        throw std::system_error(std::make_error_code(std::errc::is_a_directory), PathToUtf8(oto));
    if (existed && !std::filesystem::is_regular_file(status))
        throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                PathToUtf8(oto) + ": not a regular file");
    const std::string oldBytes = existed ? ReadFileBytes(oto) : std::string();
    const EditedOtoIni edited = ReplaceRecordingEntries(oldBytes, existed, voicebank.OtoEncoding(),
                                                        {fileName, storedName}, lines);
    // The oto.ini goes out with the other files in one commit; its entries are
    // read back from the exact bytes it will hold, in the encoding they were
    // written in. Notes whose entries are not there would sing nothing of the
    // recording, so Insert stops before any file is written.
    if (!OtoTextHoldsEntries(edited.Bytes, edited.Encoding, fileName, aliases))
        throw std::runtime_error(
            "音源の原音設定（oto.ini）に書き込んだ内容を読み戻せませんでした。"
            "プラグインファイルは変更していません。");
    files.Add(oto, edited.Bytes);
    return true;
}

}  // namespace melodrift
