#include "plugin/NoteList.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <system_error>

#include "system/Files.h"
#include "system/Platform.h"
#include "text/NumberFormat.h"
#include "text/Text.h"

namespace melodrift {

namespace {

constexpr std::string_view kSettingHeader = "[#SETTING]";
constexpr std::string_view kMissingFileMessage = "データがありません。";
constexpr std::string_view kInsertSection = "#INSERT";
constexpr std::string_view kDefaultLyric = "あ";
constexpr double kQuarterNoteTicks = 480.0;
// The hosts write a [#SETTING] section of a few hundred bytes and send at
// most the notes of one song. Larger inputs are refused while they are
// read, before they take memory in proportion: the [#SETTING] section's
// bytes, and the lines kept of the selected notes (a header, a lyric and a
// length each: a hundred thousand notes' worth).
constexpr std::size_t kMaxSettingBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxSentNoteLines = 300'000;

bool StartsSection(std::string_view line) {
    return line.size() >= 2 && line[0] == '[' && line[1] == '#';
}

// "[#0000]": a note of the selection (digits only after "#").
bool IsNumberedSection(std::string_view line) {
    if (line.size() < 4 || !StartsSection(line) || line.back() != ']') return false;
    const std::string_view digits = line.substr(2, line.size() - 3);
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Some locales make OpenUtau write the tempo with a decimal comma
// ("Tempo=120,5"); a comma with no point is read as the point.
double ReadTempo(std::string_view value) {
    std::string text(value);
    if (text.find('.') == std::string::npos) std::replace(text.begin(), text.end(), ',', '.');
    return ParseDouble(text);
}

// A sent note's length [ticks]; one that is not a finite number counts as 0:
// it only informs the summary.
double SentLength(std::string_view value) {
    try {
        const double ticks = ParseFloatOr(value, 0.0);
        return std::isfinite(ticks) ? ticks : 0.0;
    } catch (const ConversionError&) {
        return 0.0;
    }
}

// The VoiceDir value as text. UTAU writes the header in the system's ANSI
// code page, which is not CP932 on every system; when the CP932 reading
// names no folder but the bytes are UTF-8 that name one, the UTF-8 reading
// is taken.
std::string DecodeVoiceDir(std::string_view bytes, TextEncoding encoding) {
    if (encoding != TextEncoding::ShiftJis) return DecodeText(bytes, encoding);
    std::string text = DecodeText(bytes, TextEncoding::ShiftJis);
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !IsValidUtf8(bytes)) return text;
    std::error_code ec;
    if (!IsValidShiftJis(bytes) || !std::filesystem::is_directory(Utf8Path(text), ec)) {
        if (std::filesystem::is_directory(Utf8Path(bytes), ec)) return std::string(bytes);
    }
    return text;
}

}  // namespace

std::optional<std::filesystem::path> HostVoiceFolderOf(const std::filesystem::path& executable) {
    const std::filesystem::path plugins = executable.parent_path().parent_path();
    std::string name = PathToUtf8(plugins.filename());
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (name != "plugins") return std::nullopt;
    const std::filesystem::path voice = plugins.parent_path() / "voice";
    std::error_code ec;
    if (!std::filesystem::is_directory(voice, ec)) return std::nullopt;
    return voice;
}

std::optional<std::string> ExpandVoiceDir(std::string_view voiceDir,
                                          const std::optional<std::filesystem::path>& voiceFolder) {
    constexpr std::string_view kVoice = "%VOICE%";
    constexpr std::string_view kData = "%DATA%";
    if (voiceDir.starts_with(kData)) return std::nullopt;
    if (!voiceDir.starts_with(kVoice)) return std::string(voiceDir);
    if (!voiceFolder) return std::nullopt;
    std::string rest(voiceDir.substr(kVoice.size()));
    while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/')) rest.erase(0, 1);
    if constexpr (std::filesystem::path::preferred_separator == '/')
        std::replace(rest.begin(), rest.end(), '\\', '/');
    return PathToUtf8(*voiceFolder / Utf8Path(rest));
}

NoteList::NoteList(VoicebankLink* voicebank) : voicebank_(voicebank) {
    if (voicebank_ != nullptr) voicebank_->Clear();
    if (const auto executable = platform::ExecutablePath())
        HostVoiceFolder = HostVoiceFolderOf(*executable);
}

int NoteList::LoadFromPluginFile(const std::filesystem::path& path, Prompts& prompts) {
    slots_.clear();
    count_ = 0;
    path_.clear();
    Tempo = 120.0;
    LoadedTempo = 0.0;
    VoiceDir.clear();
    Encoding = TextEncoding::ShiftJis;
    SentNotes.clear();
    HasNextNote = false;
    VoiceFolderMissing = false;

    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
        prompts.Warn(kMissingFileMessage);
        return 0;
    }

    // The host may put a version section before the settings: the first
    // settings section is read wherever it starts. After it only the
    // sections' headers and the selected notes' lyrics and lengths are kept.
    // A line longer than any host writes is refused (LineTooLong).
    std::vector<std::string> section;
    std::vector<std::string> notes;
    bool first = true;
    bool settingsDone = false;
    std::size_t settingBytes = 0;
    const auto tooLarge = [&](const std::string& what) {
        return std::runtime_error(PathToUtf8(path) + ": " + what +
                                  "; no host writes that much, so the file was not read "
                                  "(nothing was written)");
    };
    try {
        ReadLines(path, kMaxLineBytes, [&](std::string_view line) {
            // A UTF-8 byte order mark makes the whole file UTF-8.
            if (first && line.starts_with(kUtf8Bom)) {
                line.remove_prefix(kUtf8Bom.size());
                Encoding = TextEncoding::Utf8WithBom;
            }
            first = false;
            if (section.empty()) {
                if (line == kSettingHeader) section.emplace_back(line);
                return true;
            }
            if (StartsSection(line)) settingsDone = true;
            if (!settingsDone) {
                settingBytes += line.size() + 2;
                if (settingBytes > kMaxSettingBytes)
                    throw tooLarge("the [#SETTING] section is larger than " +
                                   std::to_string(kMaxSettingBytes >> 20) + " MB");
                section.emplace_back(line);
            } else if (StartsSection(line) || line.starts_with("Lyric=") ||
                       line.starts_with("Length=")) {
                if (notes.size() >= kMaxSentNoteLines)
                    throw tooLarge("more than " + std::to_string(kMaxSentNoteLines / 3) +
                                   " notes are selected");
                notes.emplace_back(line);
            }
            return true;
        });
    } catch (const LineTooLong&) {
        // Past the settings a line too long only costs the selection: with no
        // sent notes the reply deletes none and the selected notes stay.
        if (!settingsDone) throw;
        notes.clear();
    }
    unknownHostFolder_.clear();
    ReadSettingSection(section, 0);
    ReadSentNotes(notes);
    if (!unknownHostFolder_.empty())
        prompts.Warn(std::string(kHostFolderUnknownMessage) + unknownHostFolder_);
    else if (!VoiceDir.empty() && !std::filesystem::is_directory(Utf8Path(VoiceDir), ec)) {
        VoiceFolderMissing = true;
        prompts.Warn(VoiceFolderMessage());
    }

    // Previous- and next-context slots; the host's own notes are not read.
    slots_.resize(2);
    path_ = path;
    Relink();
    return SlotCount();
}

int NoteList::ReadSettingSection(const std::vector<std::string>& lines, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size() ||
        lines[index] != kSettingHeader)
        return -1;
    for (std::size_t i = static_cast<std::size_t>(index) + 1;; ++i) {
        if (i >= lines.size()) return -2;
        const std::string_view line = lines[i];
        if (StartsSection(line)) return static_cast<int>(i);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;  // no key
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "Tempo") {
            Tempo = ReadTempo(value);
            LoadedTempo = Tempo;
        } else if (key == "VoiceDir") {
            VoiceDir = DecodeVoiceDir(value, Encoding);
            if (std::optional<std::string> expanded = ExpandVoiceDir(VoiceDir, HostVoiceFolder)) {
                VoiceDir = *std::move(expanded);
                LoadVoicebankOnce();
            } else {
                // The folder stays unexpanded; no voicebank is read from a
                // path that names nothing.
                unknownHostFolder_ = VoiceDir.starts_with("%DATA%")
                                         ? "%DATA%（UTAUのデータフォルダ）"
                                         : "%VOICE%（ホストのvoiceフォルダ）";
            }
        }
    }
}

void NoteList::ReadSentNotes(const std::vector<std::string>& lines) {
    bool inNote = false;
    for (const std::string& line : lines) {
        if (StartsSection(line)) {
            inNote = IsNumberedSection(line);
            if (inNote) SentNotes.push_back(SentNote{line.substr(1, line.size() - 2), {}, 0.0});
            if (line == "[#NEXT]") HasNextNote = true;
            continue;
        }
        if (!inNote) continue;
        const std::string_view value = std::string_view(line).substr(line.find('=') + 1);
        if (line.starts_with("Lyric="))
            SentNotes.back().Lyric = DecodeText(value, Encoding);
        else
            SentNotes.back().Length = SentLength(value);
    }
}

std::string NoteList::VoiceFolderMessage() const {
    std::string message = std::string(kVoiceFolderMissingMessage) + VoiceDir;
    if (VoiceDir.find('?') != std::string::npos)
        message += "\n" + std::string(kHostLostCharactersMessage);
    return message;
}

double NoteList::SelectionTicks() const {
    double ticks = 0.0;
    for (const SentNote& note : SentNotes) ticks += note.Length;
    return ticks;
}

double NoteList::InsertedTicks() const {
    double ticks = 0.0;
    for (int i = 1; i <= count_; ++i)
        if (slots_[i]) ticks += slots_[i]->Length;
    return ticks;
}

int NoteList::InsertNote(double positionTicks) {
    if (!IsLoaded())
        throw std::runtime_error("no plug-in file was loaded, so no note can be inserted");

    auto note = std::make_unique<Note>();
    note->Section = kInsertSection;
    note->Length = kQuarterNoteTicks;
    note->Lyric = kDefaultLyric;

    int slot = count_ + 1;
    note->Tempo = Tempo;
    if (count_ > 0) {
        const Note& last = *slots_[count_];
        positionTicks = std::min(positionTicks, last.StartTick + last.Length);
        for (int i = 1; i <= count_; ++i) {
            const Note& candidate = *slots_[i];
            if (candidate.StartTick + candidate.Length > positionTicks) {
                note->Tempo = candidate.Tempo;
                slot = i + 1;
                break;
            }
        }
    }

    slots_.insert(slots_.begin() + slot, std::move(note));
    ++count_;
    try {
        Relink();
    } catch (...) {
        // Leave the list as it was (a tempo of 0 cannot place a note).
        slots_.erase(slots_.begin() + slot);
        --count_;
        try {
            Relink();
        } catch (...) {
        }
        throw;
    }
    return slot;
}

Note* NoteList::GetNote(int index) {
    if (index < 0 || index >= SlotCount()) return nullptr;
    return slots_[static_cast<std::size_t>(index)].get();
}

const Note* NoteList::GetNote(int index) const {
    if (index < 0 || index >= SlotCount()) return nullptr;
    return slots_[static_cast<std::size_t>(index)].get();
}

void NoteList::Relink() {
    const std::size_t size = slots_.size();
    for (std::size_t i = 0; i < size; ++i) {
        Note* note = slots_[i].get();
        if (note == nullptr) continue;
        note->Prev = i > 0 ? slots_[i - 1].get() : nullptr;
        note->Next = i + 1 < size ? slots_[i + 1].get() : nullptr;
    }
    for (const auto& note : slots_) {
        if (note) note->UpdateGeometry();
    }
}

void NoteList::RebuildPitchGrids() {
    for (const auto& note : slots_) {
        if (note) note->ResizePitchGrid();
    }
}

void NoteList::LoadVoicebankOnce() {
    if (voicebank_ != nullptr && voicebank_->IsEmpty()) voicebank_->Load(VoiceDir);
}

double NoteList::MsToTicks(double ms) const { return ms * Tempo / 125.0; }

std::vector<std::string> NoteList::BuildPluginFileLines() {
    std::vector<std::string> lines;
    if (Tempo != LoadedTempo) {
        if (!(Tempo > 0.0) || !std::isfinite(Tempo))
            throw std::domain_error("the tempo " + std::to_string(Tempo) +
                                    " is not a positive number");
        lines.emplace_back(kSettingHeader);
        lines.push_back("Tempo=" + FormatGeneral(Tempo));
    }
    if (ReplaceSelection)
        for (std::size_t i = 0; i < SentNotes.size(); ++i) lines.emplace_back("[#DELETE]");
    int clamped = 0;
    for (int i = 1; i <= count_; ++i) {
        if (!slots_[i]) continue;
        slots_[i]->WriteTo(lines);
        clamped += slots_[i]->ClampedValues;
    }
    ClampedValues = clamped;
    return lines;
}

void NoteList::SaveToPluginFile() {
    FileTransaction files;
    SaveToPluginFile(files);
    files.Commit();
}

void NoteList::SaveToPluginFile(FileTransaction& files) {
    if (!IsLoaded())
        throw std::runtime_error("no plug-in file was loaded, so the notes cannot be saved");
    // The whole text is built first: a value that cannot be written stops
    // the save before the file is touched.
    files.Add(path_, EncodeText(JoinLinesCrLf(BuildPluginFileLines()), Encoding));
}

}  // namespace melodrift
