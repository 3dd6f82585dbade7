// The host's plug-in file and the note list that mirrors it.
//
// The file is sectioned key=value text, in CP932, or in UTF-8 when it starts
// with a byte order mark (OpenUtau writes it so for a plug-in that asks for
// "encoding=utf-8"); the reply is written in the encoding the file came in:
//   [#SETTING]          Tempo=120.00 (or 120,00), VoiceDir=C:\voice\...
//   [#PREV] [#NEXT]     the notes before and after the selection (only noted)
//   [#0000] [#0001]...  the selected notes: their lyric and length are read
//   [#DELETE]           written once per selected note: the note is removed
//   [#INSERT]           one section per note this program adds (written)
// Both hosts read a reply with one index into the notes they sent: a
// numbered section replaces the note at the index, [#DELETE] removes it
// (the index stays), [#INSERT] inserts before it. So the [#DELETE] sections
// first and then the [#INSERT] sections put the new notes in the
// selection's place; without them the selected notes stay after the new
// ones.
// A section ends at the next line that starts with "[#". Lines are CR LF on
// writing; CR, LF or CR LF on reading.
//
// Slots: 0 is the previous-context slot, 1..Count the notes in time order,
// Count + 1 the next-context slot; both context slots stay empty.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "plugin/Note.h"
#include "plugin/VoicebankLink.h"
#include "system/Prompts.h"
#include "text/Encoding.h"

namespace melodrift {

class FileTransaction;

// The host's voice folder for a plug-in run from `executable`: "voice" beside
// the "plugins" folder that holds the plug-in's own folder
// (<host>/plugins/<plug-in>/<executable> → <host>/voice); nothing when the
// executable does not sit in such a place or that folder does not exist.
std::optional<std::filesystem::path> HostVoiceFolderOf(const std::filesystem::path& executable);

// VoiceDir as UTAU writes it for a bank in its own voice folder,
// "%VOICE%<name>", with the marker replaced by `voiceFolder` (the rest's "\"
// read as folder separators). A VoiceDir without a marker comes back as it
// is; one with "%VOICE%" and no voice folder, or with "%DATA%" (UTAU's data
// folder, which a plug-in cannot locate), gives nothing.
std::optional<std::string> ExpandVoiceDir(std::string_view voiceDir,
                                          const std::optional<std::filesystem::path>& voiceFolder);

// Warned when VoiceDir names a host folder that cannot be found; the folder
// ("%VOICE%" or "%DATA%") is put after it.
inline constexpr std::string_view kHostFolderUnknownMessage =
    "音源フォルダの指定にあるホストのフォルダが見つからないため、音源を読み込めません。"
    "Melodriftをホストのpluginsフォルダの中に置いてください。フォルダ: ";

// Warned when VoiceDir names no existing folder; the folder as read is put
// after it (kHostLostCharactersMessage follows when it holds "?").
inline constexpr std::string_view kVoiceFolderMissingMessage =
    "プラグインファイルの音源フォルダが見つからないため、音源を読み込めません。"
    "歌詞はエイリアスに変換されず、そのまま書き込まれます。フォルダ: ";
inline constexpr std::string_view kHostLostCharactersMessage =
    "フォルダ名の「?」は、ホストがShift-JISにない文字をプラグインファイルに書けなかった跡です。"
    "OpenUtauでは、このプラグインのフォルダにあるplugin.txtに「encoding=utf-8」の行を加えると、"
    "フォルダ名がそのまま渡されます。";

// A note of the selection the host sent: its section name ("#0003"),
// lyric (UTF-8) and length [ticks].
struct SentNote {
    std::string Section;
    std::string Lyric;
    double Length = 0.0;
};

class NoteList {
  public:
    // Marks the voicebank configuration as empty; null means no voicebank.
    explicit NoteList(VoicebankLink* voicebank = nullptr);

    double Tempo = 120.0;      // bpm
    double LoadedTempo = 0.0;  // as read from [#SETTING]; 0 when none was read
    std::string VoiceDir;      // UTF-8, decoded from the file, host folders expanded
    // The host's voice folder that "%VOICE%" in VoiceDir stands for; found
    // from the executable's location at construction (HostVoiceFolderOf).
    std::optional<std::filesystem::path> HostVoiceFolder;
    // The encoding the file was read in and the reply is written in:
    // Utf8WithBom when it started with the mark, else ShiftJis.
    TextEncoding Encoding = TextEncoding::ShiftJis;
    // The selected notes the host sent, in file order, and whether it sent
    // a note after the selection ([#NEXT]).
    std::vector<SentNote> SentNotes;
    bool HasNextNote = false;
    // Write a [#DELETE] section for every sent note before the new notes,
    // so that they replace the selection; false keeps the selected notes
    // (they then follow the new ones).
    bool ReplaceSelection = true;
    // VoiceDir names a folder that does not exist (set by the load, which
    // warns kVoiceFolderMissingMessage).
    bool VoiceFolderMissing = false;

    // The sent notes' lengths added up [ticks].
    double SelectionTicks() const;
    // The inserted notes' lengths added up [ticks].
    double InsertedTicks() const;

    int Count() const { return count_; }
    int SlotCount() const { return static_cast<int>(slots_.size()); }
    // True after a successful load: the context slots and the path exist.
    bool IsLoaded() const { return !slots_.empty(); }
    // The file given to the last successful load (empty before).
    const std::filesystem::path& Path() const { return path_; }

    // Reads the [#SETTING] section of the file at `path` and the selected
    // notes' sections, and sets up the two empty context slots; returns the
    // number of slots (2). A VoiceDir naming a host folder that cannot be
    // found warns with the folder's name (kHostFolderUnknownMessage) and
    // loads no voicebank; one naming no existing folder warns
    // VoiceFolderMessage(). A missing file
    // (or an empty path) warns "データがありません。" and returns 0 with no
    // slots. A Tempo that is not a number throws ConversionError; an
    // unreadable file throws std::system_error.
    int LoadFromPluginFile(const std::filesystem::path& path, Prompts& prompts);

    // Parses the section that starts at lines[index], which must be exactly
    // "[#SETTING]". Returns the index of the line that starts the next
    // section, −1 when lines[index] is not "[#SETTING]" (or does not exist),
    // −2 when the lines ran out first.
    int ReadSettingSection(const std::vector<std::string>& lines, int index);

    // A new "#INSERT" note (480 ticks, lyric "あ") placed by its position in
    // ticks: after the first note that ends beyond it, or last. Returns its
    // slot. Throws std::runtime_error when no plug-in file was loaded, and
    // std::domain_error (inserting nothing) when the tempo is not positive.
    int InsertNote(double positionTicks);

    // The note in `index`, or null for an empty or missing slot.
    Note* GetNote(int index);
    const Note* GetNote(int index) const;

    // Sets every note's Prev/Next, then updates each note's geometry in slot
    // order (each start follows from the already updated previous note).
    void Relink();
    void RebuildPitchGrids();
    void LoadVoicebankOnce();

    // ms × Tempo / 125, with the list's tempo.
    double MsToTicks(double ms) const;

    // The lines SaveToPluginFile writes: "[#SETTING]" and "Tempo=" when the
    // tempo changed, "[#DELETE]" per sent note (with ReplaceSelection), then
    // every note's section. Throws (std::domain_error,
    // ConversionError) for a value that has no form in the file.
    std::vector<std::string> BuildPluginFileLines();
    // Values the last BuildPluginFileLines clamped into the hosts' ranges,
    // over all notes (Note::ClampedValues).
    int ClampedValues = 0;

    // Replaces the loaded file's content with BuildPluginFileLines, CR LF,
    // in the file's Encoding, through an atomic replace: on any error nothing
    // is written. Throws std::runtime_error when no plug-in file was loaded,
    // and UnencodableText (naming the character) for a lyric a CP932 file
    // cannot hold.
    void SaveToPluginFile();
    // The same content added to `files` instead, to be written together
    // with other files when the caller commits them.
    void SaveToPluginFile(FileTransaction& files);

    // The warning for a VoiceDir that names no folder: the folder as read,
    // and with a "?" in it, what the host lost and how to avoid it.
    std::string VoiceFolderMessage() const;

  private:
    void ReadSentNotes(const std::vector<std::string>& lines);

    VoicebankLink* voicebank_ = nullptr;
    std::vector<std::unique_ptr<Note>> slots_;
    int count_ = 0;
    std::filesystem::path path_;
    std::string unknownHostFolder_;  // set by ReadSettingSection, warned by the load
};

}  // namespace melodrift
