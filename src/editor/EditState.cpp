#include "editor/EditState.h"

#include "audio/PitchAnalyser.h"
#include "audio/WaveBuffer.h"
#include "editor/EditStateMending.h"
#include "editor/Session.h"
#include "system/Files.h"
#include "system/Prompts.h"
#include "text/Encoding.h"
#include "text/Ini.h"
#include "text/NumberFormat.h"
#include "text/Text.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace melodrift {

namespace {

// The edit state as text (EditStateEncoding); a missing file, or one larger
// than any edit state (EditStateTooLarge), is an empty INI. The file's bytes
// are let go once decoded.
IniFile LoadEditStateIni(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) || EditStateTooLarge(path)) return IniFile::Parse("");
    std::string text;
    {
        const std::string bytes = ReadFileBytes(path);
        text = DecodeText(bytes, EditStateEncoding(bytes));
    }
    return IniFile::Parse(text);
}

// Written in CP932 when every character comes back unchanged from it, else
// in UTF-8 with a byte order mark; replaced atomically.
void SaveEditStateIni(const IniFile& ini, const std::filesystem::path& path) {
    const std::string text = ini.ToBytes();
    const TextEncoding encoding =
        ShiftJisHoldsExactly(text) ? TextEncoding::ShiftJis : TextEncoding::Utf8WithBom;
    WriteFileAtomically(path, EncodeText(text, encoding));
}

}  // namespace

std::optional<std::uintmax_t> EditStateTooLarge(const std::filesystem::path& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size <= kMaxEditStateBytes) return std::nullopt;
    return size;
}

std::string EditStateTooLargeMessage(std::uintmax_t bytes) {
    return "編集ファイルが大きすぎるため、読み込めません（" +
           FormatInteger(static_cast<std::int64_t>(bytes >> 20)) + " MB。編集ファイルは " +
           FormatInteger(static_cast<std::int64_t>(kMaxEditStateBytes >> 20)) +
           " MB までです）。壊れたファイルか、編集ファイルではないファイルです。";
}

TextEncoding EditStateEncoding(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) return TextEncoding::Utf8WithBom;
    if (!IsValidShiftJis(bytes) && IsValidUtf8(bytes)) return TextEncoding::Utf8;
    return TextEncoding::ShiftJis;
}

bool EditStateCanHoldPath(const std::filesystem::path& path) {
    const std::string text = PathToUtf8(path);
    return IsValidUtf8(text) && Utf8Path(text) == path;
}

std::int32_t StoredPitchCents(float hz) {
    if (!(hz > 0.0f) || !std::isfinite(hz)) return 0;
    const double cents = HzToCents(hz);
    if (!std::isfinite(cents)) return 0;
    const double clamped = std::clamp(cents, -1.0e9, 1.0e9);
    double whole = std::trunc(clamped);
    // A pitch read from the file comes back a hair below its whole number
    // (single precision); truncating it would lose a cent on every save.
    if (clamped > 0.0 && std::ceil(clamped) - clamped < 0.001) whole = std::ceil(clamped);
    return static_cast<std::int32_t>(whole);
}

float StoredPitchHz(std::int64_t cents) {
    if (cents <= 0) return 0.0f;
    const auto hz = static_cast<float>(CentsToHz(static_cast<double>(cents)));
    return std::isfinite(hz) ? hz : 0.0f;
}

std::vector<std::string> PitchKeyValues(std::span<const AnalysisFrame> frames,
                                        std::span<const std::uint8_t> rejected) {
    std::vector<std::string> keys;
    std::string text;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i % kPitchesPerKey != 0) text += ',';
        const bool kept = !(i < rejected.size() && rejected[i] != 0);
        text += FormatInteger(kept ? StoredPitchCents(frames[i].TargetF0) : 0);
        if (i % kPitchesPerKey == kPitchesPerKey - 1 || i + 1 == frames.size()) {
            keys.push_back(std::move(text));
            text.clear();
        }
    }
    return keys;
}

std::int64_t StoredWholeNumber(std::string_view text) {
    try {
        return ParseInt32(text);
    } catch (const ConversionError&) {
        return 0;
    }
}

double StoredNumber(std::string_view text, double fallback) {
    try {
        const double value = ParseFloatOr(text, fallback);
        return std::isfinite(value) ? value : fallback;
    } catch (const ConversionError&) {
        return fallback;
    }
}

// ---- Saving ------------------------------------------------------------------------

bool EditorSession::SaveEditState(Prompts& prompts) {
    if (Wave->SampleCount() == 0 || FrameCount() == 0 || Segments.empty()) {
        prompts.Beep();
        prompts.Inform(kNothingToSaveMessage);
        return false;
    }
    if (!EditStateCanHoldPath(OpenWaveFileName.empty() ? WaveFileName : OpenWaveFileName)) {
        prompts.Beep();
        prompts.Error(kPathNotStorableMessage);
        return false;
    }
    const auto chosen =
        prompts.PickFileToSave(kEditStateFilter, kEditStateExtension, EditSaveFileName);
    if (!chosen) return false;
    EditOpenFileName = *chosen;
    EditSaveFileName = *chosen;
    std::error_code ec;
    if (std::filesystem::exists(*chosen, ec)) {
        prompts.Beep();
        if (!prompts.AskYesNo(kOverwriteQuestion)) return false;
    }
    SaveEditStateTo(*chosen);
    return true;
}

void EditorSession::SaveEditStateTo(const std::filesystem::path& path) {
    IniFile ini = LoadEditStateIni(path);
    ini.Write(kEditStateSection, "Melodrift", "1");
    ini.Write(kEditStateSection, "Version", kEditStateVersion);
    const std::filesystem::path& wavePath =
        OpenWaveFileName.empty() ? WaveFileName : OpenWaveFileName;
    if (!EditStateCanHoldPath(wavePath))
        throw std::runtime_error(
            "the recording's path \"" + PathToUtf8(wavePath) +
            "\" cannot be written in Shift-JIS, so the edit state would name another file; "
            "nothing was saved");
    ini.Write(kEditStateSection, "WaveFile", PathToUtf8(wavePath));
    ini.Write(kEditStateSection, "MojiCount",
              FormatInteger(static_cast<std::int64_t>(Segments.size())));
    for (std::size_t n = 0; n < Segments.size(); ++n) {
        const std::string section = FormatInteger(static_cast<std::int64_t>(n));
        ini.Write(section, "Time", FormatGeneral(Segments[n].StartMs));
        ini.Write(section, "Length", FormatGeneral(Segments[n].LengthMs));
        ini.Write(section, "Lyric", Segments[n].Lyric);
    }
    const std::vector<std::string> pitchKeys =
        PitchKeyValues(Analyser->Frames, RejectedPitchFrames());
    for (std::size_t k = 0; k < pitchKeys.size(); ++k) {
        ini.Write(kPitchSection, "Pitchs" + FormatInteger(static_cast<std::int64_t>(k)),
                  pitchKeys[k]);
    }
    SaveEditStateIni(ini, path);
    Modified = false;
}

// ---- Loading -----------------------------------------------------------------------

EditStateOutcome EditorSession::LoadEditState(Prompts& prompts, const LoadProgress& progress) {
    if (FrameCount() > 0) {
        prompts.Beep();
        if (!prompts.AskYesNo(kDiscardEditStateQuestion)) return EditStateOutcome::Cancelled;
    }
    const auto chosen = prompts.PickFileToOpen(kEditStateFilter, EditOpenFileName);
    if (!chosen) return EditStateOutcome::Cancelled;
    return LoadEditStateFrom(*chosen, prompts, progress);
}

EditStateOutcome EditorSession::LoadEditStateFrom(const std::filesystem::path& path,
                                                  Prompts& prompts, const LoadProgress& progress,
                                                  LoadScope scope) {
    auto refuse = [&](std::string_view message, EditStateOutcome outcome) {
        prompts.Beep();
        prompts.Inform(message);
        return outcome;
    };
    if (const auto size = EditStateTooLarge(path))
        return refuse(EditStateTooLargeMessage(*size), EditStateOutcome::TooLarge);
    const IniFile ini = LoadEditStateIni(path);
    if (ini.Read(kEditStateSection, "Melodrift", "0") != "1") {
        return refuse(kNotEditStateMessage, EditStateOutcome::NotEditState);
    }
    if (ini.Read(kEditStateSection, "Version", "0") != kEditStateVersion) {
        return refuse(kWrongVersionMessage, EditStateOutcome::WrongVersion);
    }
    std::filesystem::path wavePath = Utf8Path(ini.Read(kEditStateSection, "WaveFile", "0"));
    // An older file may name the recording relative to where it was made;
    // the folder of the edit state is the likely place.
    if (wavePath.is_relative() && !path.parent_path().empty()) {
        std::error_code relativeEc;
        const std::filesystem::path besideState = path.parent_path() / wavePath;
        if (std::filesystem::is_regular_file(besideState, relativeEc)) wavePath = besideState;
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(wavePath, ec)) {
        return refuse(kNoWaveFileMessage, EditStateOutcome::NoWaveFile);
    }
    const std::int64_t storedCount =
        StoredWholeNumber(ini.Read(kEditStateSection, "MojiCount", "0"));
    if (storedCount <= 0) return refuse(kNoSegmentsMessage, EditStateOutcome::NoSegments);

    // The segments are replaced only once the recording has loaded: a
    // rejected recording leaves the session as it was.
    if (LoadRecording(wavePath, prompts, progress, scope) != LoadOutcome::Loaded) {
        return EditStateOutcome::RecordingRejected;
    }

    ApplyEditState(ini);
    if (LastEditStateMends.Any()) prompts.Inform(EditStateMendsMessage(LastEditStateMends));
    return EditStateOutcome::Loaded;
}

void EditorSession::ApplyEditState(const IniFile& ini) {
    std::vector<std::string> items;
    for (int i = 0; i < FrameCount(); ++i) {
        if (i % kPitchesPerKey == 0) {
            items.clear();
            SplitText(ini.Read(kPitchSection, "Pitchs" + FormatInteger(i / kPitchesPerKey), ""),
                      ",", items);
        }
        const std::size_t slot = static_cast<std::size_t>(i % kPitchesPerKey);
        if (slot >= items.size()) continue;  // not stored: the new analysis' pitch stays
        AnalysisFrame& frame = Analyser->Frames[i];
        const std::int64_t stored = items[slot] == "0" ? 0 : StoredWholeNumber(items[slot]);
        // A pitch stored other than the analysis traced it was drawn by the
        // user: the voicing check keeps it.
        if (stored > 0 && stored != StoredPitchCents(frame.TargetF0) &&
            static_cast<std::size_t>(i) < PitchRejected.size())
            PitchRejected[static_cast<std::size_t>(i)] = 0;
        frame.TargetF0 = items[slot] == "0" ? 0.0f : StoredPitchHz(stored);
    }
    BuildPitchCents();

    // A file written here never holds more segments than cuts MinCutGap
    // apart fit into the recording; a larger count is damage, and is cut
    // there instead of filling memory with default segments.
    const double duration = DurationMs();
    const double gap = std::max(MinCutGap, 1.0);
    const auto maxCount = static_cast<std::int64_t>(duration / gap) + 1;
    const std::int64_t storedCount =
        StoredWholeNumber(ini.Read(kEditStateSection, "MojiCount", "0"));
    const std::int64_t count = std::clamp<std::int64_t>(storedCount, 0, maxCount);
    EditStateMends mends;
    if (storedCount > maxCount) mends.CountCut = storedCount - maxCount;
    std::vector<StoredSegment> stored;
    stored.reserve(static_cast<std::size_t>(count));
    for (std::int64_t n = 0; n < count; ++n) {
        const std::string section = FormatInteger(n);
        // A section the count names but the file lacks is no segment.
        if (!ini.HasSection(section)) {
            ++mends.Missing;
            continue;
        }
        StoredSegment seg;
        seg.StartMs = StoredNumber(ini.Read(section, "Time", "0"), 0.0);
        if (const auto length = ini.Get(section, "Length"))
            seg.LengthMs = StoredNumber(*length, std::numeric_limits<double>::quiet_NaN());
        seg.Lyric = ini.Read(section, "Lyric", "R");
        stored.push_back(std::move(seg));
    }
    std::vector<Segment> segments = MendSegments(std::move(stored), duration, gap, mends);
    // None of the sections there: the whole recording is one rest, as after
    // loading it alone.
    if (segments.empty()) segments.push_back(Segment{0.0, 0.0, "R"});
    LastEditStateMends = mends;
    Segments = std::move(segments);
    RecalcLengths();
    HoverSegment = -1;
    // A mended state differs from its file: saving is offered.
    Modified = mends.Any();
}

}  // namespace melodrift
