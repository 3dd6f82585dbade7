// The configuration of one voicebank in memory: every oto.ini entry of the
// voice folder and its subfolders, and the per-key prefix/suffix table of its
// prefix.map. All texts are UTF-8; each file is decoded as it is read
// (DetectFileEncoding in Voicebank.cpp tells how its encoding is found), and
// oto.ini is written back in the encoding it was read in. The voice folder,
// oto.ini, prefix.map and character.yaml are found by their exact names
// first, else by names that differ only in case or Unicode normalisation
// (system/FileNames.h); the file found is the one read and rewritten. Alias
// and path comparisons are exact and case-sensitive.
//
// oto.ini line:  file.wav=alias,offset,consonant,cutoff,preutterance,overlap
//                (the five numbers in ms; any other field count is not an entry)
// prefix.map line: note name TAB prefix [TAB suffix]
#pragma once

#include "plugin/VoicebankLink.h"
#include "text/Encoding.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <set>
#include <utility>
#include <vector>

namespace melodrift {

class FileTransaction;

// One oto.ini entry: one sample and one alias of it.
struct OtoEntry {
    std::string FileName;       // as written before the "=", e.g. "a.wav"
    std::string Alias;          // as written after the "=" (may be empty)
    double Offset = 0.0;        // ms
    double Consonant = 0.0;     // ms
    double Cutoff = 0.0;        // ms (negative: measured from the offset)
    double PreUtterance = 0.0;  // ms
    double Overlap = 0.0;       // ms
    std::string FullPath;       // voice folder + separator + FileName
};

// One row of the prefix map.
struct PrefixRow {
    std::string Prefix;
    std::string Suffix;
};

// Rows 0..110 by note number; only 24..107 (C1..B7) are ever filled.
inline constexpr int kPrefixRows = 111;
inline constexpr int kFirstMappedNote = 24;  // C1
inline constexpr int kLastMappedNote = 107;  // B7
using PrefixRows = std::array<PrefixRow, kPrefixRows>;

// "C4" → 60, "A#3" → 58. One-digit octave only; "#" is the only accidental
// (a flat is not read: "Db4" is D4, 62); fewer than two characters give 0.
int NoteNameToNumber(std::string_view noteName);

// The parsed fields of one oto.ini line, or nothing when the line is not an
// entry. Numbers that do not read as numbers (or read as infinite) count as 0.
// FullPath is left empty.
std::optional<OtoEntry> ParseOtoLine(std::string_view line);

// Most lines the oto.ini files of one voice folder (with its subfolders)
// may hold together; LoadVoicebank refuses more.
inline constexpr std::size_t kMaxOtoLines = 250'000;

// The encoding the voice folder's character.yaml declares for its oto.ini,
// prefix.map and character.txt ("text_file_encoding"), if any.
std::optional<TextEncoding> DeclaredTextEncoding(const std::filesystem::path& voiceFolder);

// The encoding a load reads the oto.ini file `otoIni` in, given what the
// bank's character.yaml declares. Throws like reading the file.
TextEncoding OtoIniEncoding(const std::filesystem::path& otoIni,
                            std::optional<TextEncoding> declared);

// How lookups are answered. Both give the same results; the linear scan is
// kept as the reference the index is checked and measured against.
enum class OtoLookup { Indexed, LinearScan };

class Voicebank : public VoicebankLink {
  public:
    // Called once after each folder entry the walk visits, so a window can
    // stay responsive during a long load.
    using Progress = std::function<void()>;

    explicit Voicebank(OtoLookup lookup = OtoLookup::Indexed);

    const std::vector<OtoEntry>& OtoList() const { return otoList_; }
    int OtoCount() const { return static_cast<int>(otoList_.size()); }
    const std::string& VoiceRoot() const { return voiceRoot_; }
    const PrefixRows& PrefixTable() const { return prefixTable_; }

    void SetProgress(Progress progress) { progress_ = std::move(progress); }

    // Clears everything, remembers the folder as VoiceRoot, reads its oto.ini
    // tree and then its prefix.map. A missing folder or file loads nothing.
    // Reads only; nothing is written.
    void LoadVoicebank(std::string_view voiceDir);
    // Empties the entries, the prefix table and VoiceRoot.
    void ClearVoicebank();

    // Adds the entries of the folder's oto.ini, then those of every
    // subfolder, depth first. Unreadable files and folders are skipped; a
    // folder reached twice (a link loop) is read once.
    void ReadOtoTree(std::string_view dir);

    // Parses one oto.ini line and appends it, or ignores it.
    void AddOtoLine(std::string_view line);

    // Index of the first entry whose alias is `alias`; failing that, of the
    // first entry whose file name without extension is `alias` (an entry
    // whose alias is empty then takes `alias` as its alias); else -1.
    int FindOtoIndex(std::string_view alias);

    // A copy of the entry FindOtoIndex finds, or the empty entry.
    OtoEntry GetOto(std::string_view alias);

    // The entry for prefix(note) + alias + suffix(note), else the entry for
    // the bare alias, else the empty entry. A hit has a non-empty Alias.
    OtoEntry GetOtoWithPrefix(std::string_view alias, int noteNum);

    // `alias` without the prefix and suffix of that note, when it carries
    // both; else `alias` unchanged.
    std::string StripPrefixSuffix(std::string_view alias, int noteNum) const;

    // The FullPath an entry for `fileName` gets: VoiceRoot, the
    // platform's path separator, the file name.
    std::string FullPathFor(std::string_view fileName) const;

    // Removes every entry whose FullPath equals `fullPath`.
    void RemoveOtoByPath(std::string_view fullPath);

    // Writes the voice folder's own entries (those of its own oto.ini and
    // those added by AddOtoLine; never entries read from subfolders) to
    // VoiceRoot/oto.ini, numbers rounded half up to whole ms, followed by
    // the lines of its own oto.ini that were not entries, unchanged; CR LF
    // line ends, replacing the file atomically. Returns false (and writes nothing)
    // when VoiceRoot is not a folder. A failed write throws and leaves the
    // old file whole; so does a voice folder whose oto.ini was there but
    // could not be read at the load (std::system_error), since its entries
    // are not in the table.
    bool WriteOtoIni() const;
    // The same, the content added to `files` to be written with them.
    bool WriteOtoIni(FileTransaction& files) const;

    // The bytes WriteOtoIni would write, in the encoding the voice folder's
    // oto.ini was read in (a byte order mark kept); a new file CP932, or
    // UTF-8 with a mark when an entry has no CP932 form. Throws
    // UnencodableText for an entry a CP932 file cannot hold: one file never
    // mixes two encodings.
    std::string OtoIniText() const;
    // The encoding the voice folder's oto.ini was read in (CP932 when there
    // was none).
    TextEncoding OtoEncoding() const { return otoEncoding_; }

    // Empties the prefix table and fills it from the subbanks of the folder's
    // character.yaml (voicebank/Subbanks.h), or without any, its prefix.map.
    void LoadPrefixMap(std::string_view dir);

    // VoicebankLink
    bool IsEmpty() const override { return otoList_.empty(); }
    void Clear() override { ClearVoicebank(); }
    void Load(std::string_view voiceDir) override { LoadVoicebank(voiceDir); }

  private:
    void Append(OtoEntry entry, bool ownEntry);
    void ReadOtoFolder(const std::filesystem::path& dir, bool isRoot,
                       std::set<std::filesystem::path>& visited);
    void Tick() const;
    int FindLinear(std::string_view alias);
    int FindIndexed(std::string_view alias);
    void RebuildIndex();
    void SetAlias(int index, std::string_view alias);
    // Whether `text`, decoded from `bytes`, holds no character the decoder
    // put in for bytes it could not read.
    bool DecodedCleanly(std::string_view text, std::string_view bytes) const;

    OtoLookup lookup_;
    std::vector<OtoEntry> otoList_;
    std::vector<bool> ownEntry_;  // parallel to otoList_: written by WriteOtoIni
    std::vector<std::string>
        foreignLines_;  // the folder's own non-entry lines, their bytes as read
    // Entries of the folder's own oto.ini whose bytes did not decode cleanly
    // in the file's encoding (index into otoList_, ascending; the bytes as
    // read): written back as they were, so a rewrite never turns the user's
    // bytes into substitution characters.
    std::vector<std::pair<std::size_t, std::string>> undecodedEntries_;
    std::string charsetLine_;  // the folder's own "#Charset:" line, its bytes as read
    TextEncoding otoEncoding_ = TextEncoding::ShiftJis;
    bool rootOtoFound_ = false;          // the voice folder's own oto.ini was there and read
    std::filesystem::path rootOtoPath_;  // that file as found (its name may differ in case)
    std::optional<TextEncoding> declaredEncoding_;  // by character.yaml
    std::string voiceRoot_;
    std::error_code rootOtoReadError_;  // set when the folder's own oto.ini exists but was not read
    PrefixRows prefixTable_{};
    Progress progress_;

    // Lookup index: alias → its first entry; file stem → its first entry.
    // Lookups only ever need the first. Rebuilt lazily after removals.
    std::unordered_map<std::string, int> byAlias_;
    std::unordered_map<std::string, int> byStem_;
    bool indexStale_ = false;
};

// The one voicebank of the running program.
Voicebank& DefaultVoicebank();

// The file name without its extension (the part from the last "." that
// follows the last path delimiter).
std::string_view FileStem(std::string_view fileName);

}  // namespace melodrift
