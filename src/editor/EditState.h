// The edit-state file (".mlq"): an INI text that names the recording
// and holds the segments and the traced pitch of every analysis frame.
//
//   [Melodrift]  Melodrift=1, Version=2.00, WaveFile=<path>, MojiCount=<n>
//   [0] .. [n-1] Time=<ms>, Length=<ms>, Lyric=<text>
//   [Pitchs]     Pitchs0=<100 values>, Pitchs1=..., the last holding the rest
//
// It is written in CP932 when every character of it has a CP932 form that
// reads back the same, else in UTF-8 with a byte order mark; both are read.
// A pitch value is the frame's TargetF0 in whole cents (220 Hz = 5700),
// truncated toward zero; 0 for a frame without pitch. Saving updates an
// existing file in place: keys and sections it does not write stay.
// EditorSession::SaveEditState / LoadEditState run the whole workflow with
// its questions; the helpers here are its pure pieces.
#pragma once

#include "audio/Frames.h"
#include "text/Encoding.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

inline constexpr std::string_view kEditStateFilter = "メロドリフト編集ファイル(*.mlq)|*.mlq";
inline constexpr std::string_view kEditStateExtension = "mlq";
inline constexpr std::string_view kEditStateSection = "Melodrift";
inline constexpr std::string_view kEditStateVersion = "2.00";
inline constexpr std::string_view kPitchSection = "Pitchs";
inline constexpr int kPitchesPerKey = 100;

inline constexpr std::string_view kNothingToSaveMessage = "保存するデータがありません";
inline constexpr std::string_view kOverwriteQuestion = "上書きしますか?";
inline constexpr std::string_view kDiscardEditStateQuestion =
    "現在の編集状態を破棄してもよろしいですか?";
inline constexpr std::string_view kNotEditStateMessage = "メロドリフトの編集ファイルではありません";
inline constexpr std::string_view kWrongVersionMessage = "対応していないバージョンのファイルです";
inline constexpr std::string_view kNoWaveFileMessage = "Waveファイルが存在しません";
inline constexpr std::string_view kNoSegmentsMessage = "歌詞データがありません";

// Shown instead of saving when the recording's path has characters that
// the edit state cannot hold (bytes that are no Unicode text).
inline constexpr std::string_view kPathNotStorableMessage =
    "録音ファイルのパスに編集ファイル（Shift-"
    "JIS）で表せない文字が含まれているため、保存できません。"
    "フォルダ名やファイル名を変えてから、もう一度読み込んでください。";

// What loading a hand-edited edit state had to mend, counted by kind. A
// file written here needs none of it.
struct EditStateMends {
    bool Reordered = false;            // segments not in time order
    bool LateFirstStart = false;       // the first segment started after 0
    int Outside = 0;                   // starts before 0 or at or past the end
    int PastEnd = 0;                   // a last segment whose stored end lies past the end
    int NonPositiveLength = 0;         // stored lengths of 0 or less
    int Overlapping = 0;               // stored ends past the next segment's start
    int Gapped = 0;                    // stored ends short of the next segment's start
    int TooClose = 0;                  // starts moved to lie MinCutGap after the one before
    std::vector<std::string> Dropped;  // lyrics of segments with no room left in the recording
    int Missing = 0;                   // sections the count names but the file lacks
    std::int64_t CountCut = 0;         // segments the count names beyond what fits

    bool Any() const {
        return Reordered || LateFirstStart || Outside || PastEnd || NonPositiveLength ||
               Overlapping || Gapped || TooClose || !Dropped.empty() || Missing || CountCut;
    }
};

// "編集ファイルの区間に誤りがあったため、直して読み込みました。" and one line
// per kind mended.
std::string EditStateMendsMessage(const EditStateMends& mends);

// An edit state holds a few bytes per analysis frame and per segment: about
// 5 MB for an hour of recording cut every 100 ms, 8.5 MB cut every 30 ms.
// Read, a file takes about nine times its size in memory; a larger file
// than this is refused before it is read (EditStateTooLarge gives its size).
inline constexpr std::uintmax_t kMaxEditStateBytes = std::uintmax_t{8} << 20;
std::optional<std::uintmax_t> EditStateTooLarge(const std::filesystem::path& path);
// "編集ファイルが大きすぎるため、読み込めません（…）"
std::string EditStateTooLargeMessage(std::uintmax_t bytes);

// The encoding an edit state's bytes are read in: UTF-8 after a byte order
// mark, else CP932 (UTF-8 without a mark when the bytes are not CP932 but
// are UTF-8).
TextEncoding EditStateEncoding(std::string_view bytes);

// Whether the edit state can name `path` faithfully: its name is Unicode
// (on systems whose file names are bytes, valid UTF-8), so that written in
// Shift-JIS or, failing that, UTF-8 and read back, it is the same path.
bool EditStateCanHoldPath(const std::filesystem::path& path);

// The stored value of a frame's pitch: the whole part (toward zero) of
// 1200 log2(hz / 220) + 5700, or 0 for hz ≤ 0 (or not finite). A value that
// lies within a thousandth of a cent below a whole number is that number, so
// that a pitch read back from the file is written again unchanged.
std::int32_t StoredPitchCents(float hz);
// The pitch of a stored value: 220 · 2^((v − 5700) / 1200) Hz, 0 for v ≤ 0
// (and for a value too large for a single-precision pitch).
float StoredPitchHz(std::int64_t cents);

// The "Pitchs" keys of the frames' TargetF0: key n holds frames 100n ..
// 100n + 99 separated by ",", the last key the rest.
// A frame marked in `rejected` (the voicing check) is written as 0.
std::vector<std::string> PitchKeyValues(std::span<const AnalysisFrame> frames,
                                        std::span<const std::uint8_t> rejected = {});

// Whole number of a stored text, 0 when it is not one.
std::int64_t StoredWholeNumber(std::string_view text);
// Number of a stored text (ParseFloatOr), `fallback` when it is not one or
// not finite.
double StoredNumber(std::string_view text, double fallback);

}  // namespace melodrift
