#include "voicebank/Voicebank.h"

#include "voicebank/Subbanks.h"

#include "system/FileNames.h"
#include "system/Files.h"
#include "text/Encoding.h"
#include "text/Kana.h"
#include "text/NumberFormat.h"
#include "text/ShiftJisConverter.h"
#include "text/Text.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <system_error>

namespace melodrift {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kOtoFieldCount = 7;  // file, alias and five numbers

// A number field of oto.ini in ms. A field that is not a number counts as 0,
// also one that passes the number check without a digit (".") and one too
// large for a double: a malformed line must never stop a load.
double ReadMs(std::string_view field) {
    double value = 0.0;
    try {
        value = ParseFloatOr(field, 0.0);
    } catch (const ConversionError&) {
        value = 0.0;
    }
    return std::isfinite(value) ? value : 0.0;
}

// "#Charset:<name>" (blanks allowed around the name, the key in any case):
// the encoding an oto.ini declares for itself.
std::optional<TextEncoding> CharsetDeclaration(std::string_view line) {
    constexpr std::string_view kKey = "#charset:";
    line = TrimBlanks(line);
    if (line.size() < kKey.size()) return std::nullopt;
    for (std::size_t i = 0; i < kKey.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kKey[i]) return std::nullopt;
    }
    return EncodingFromName(TrimBlanks(line.substr(kKey.size())));
}

// Lines an oto.ini may use to declare its encoding ("#Charset:").
constexpr int kCharsetLines = 10;

// The encoding of a voicebank text file, decided in this order: a UTF-8
// byte order mark; for an oto.ini, "#Charset:" within its first ten lines;
// the encoding character.yaml declares for the bank's text files; CP932
// when every line is valid CP932; UTF-8 when every line is valid UTF-8;
// else CP932 (its broken bytes are shown as U+FFFD, and the file is never
// rewritten from them). Reads the file line by line and holds no more than
// one line. Throws like ReadLines.
TextEncoding DetectFileEncoding(const fs::path& file, bool readCharset,
                                std::optional<TextEncoding> declared) {
    bool bom = false;
    std::optional<TextEncoding> charset;
    int lineNumber = 0;
    ReadLines(file, kMaxLineBytes, [&](std::string_view line) {
        ++lineNumber;
        if (lineNumber == 1 && line.starts_with(kUtf8Bom)) {
            bom = true;
            return false;
        }
        if (readCharset) charset = CharsetDeclaration(line);
        return !charset && lineNumber < kCharsetLines;
    });
    if (bom) return TextEncoding::Utf8WithBom;
    if (charset) return *charset;
    if (declared) return *declared;
    bool shiftJis = true;
    bool utf8 = true;
    ShiftJisConverter converter;
    ReadLines(file, kMaxLineBytes, [&](std::string_view line) {
        if (IsAscii(line)) return true;
        shiftJis = shiftJis && converter.IsValid(line);
        utf8 = utf8 && IsValidUtf8(line);
        return shiftJis || utf8;
    });
    return shiftJis || !utf8 ? TextEncoding::ShiftJis : TextEncoding::Utf8;
}

// Calls `onLine` for each line of a voicebank text file, decoded to UTF-8,
// with the line's bytes as the file holds them (a byte order mark removed
// from the first), reading line by line. The encoding is decided by
// DetectFileEncoding and reported in `used`. A file that is there but
// cannot be read gives no lines; `readError` (when given) then receives the
// reason. A missing file is no error. A line longer than kMaxLineBytes
// throws LineTooLong.
void ForEachTextLine(
    const fs::path& file, std::error_code* readError, bool readCharset,
    std::optional<TextEncoding> declared, TextEncoding* used,
    const std::function<void(std::string_view line, std::string_view bytes)>& onLine) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    // Only regular files: a FIFO or device named oto.ini would block the load.
    if (!fs::is_regular_file(status)) {
        if (readError != nullptr && fs::exists(status))
            *readError = std::make_error_code(
                fs::is_directory(status) ? std::errc::is_a_directory : std::errc::invalid_argument);
        return;
    }
    try {
        const TextEncoding encoding = DetectFileEncoding(file, readCharset, declared);
        if (used != nullptr) *used = encoding;
        bool first = true;
        ShiftJisConverter converter;
        ReadLines(file, kMaxLineBytes, [&](std::string_view line) {
            if (first && line.starts_with(kUtf8Bom)) line.remove_prefix(kUtf8Bom.size());
            first = false;
            if (IsAscii(line))
                onLine(line, line);
            else if (encoding == TextEncoding::ShiftJis)
                onLine(converter.Decode(line), line);
            else
                onLine(DecodeText(line, encoding), line);
            return true;
        });
    } catch (const LineTooLong&) {
        throw;
    } catch (const std::system_error& error) {
        if (readError != nullptr) *readError = error.code();
        return;  // unreadable: skipped
    } catch (const std::exception&) {
        if (readError != nullptr) *readError = std::make_error_code(std::errc::io_error);
        return;
    }
}

char NativeSeparator() { return static_cast<char>(fs::path::preferred_separator); }

bool IsPathDelimiter(std::string_view character) {
    return character == "\\" || character == "/" || character == ":";
}

// An upper bound of the lines in a file (its CR and LF bytes, + 1), read
// in blocks; 0 when it cannot be read. Lets the table grow once per file
// instead of doubling (a doubling holds the old and the new table at once).
// Only regular files are read.
std::size_t CountLinesAtMost(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return 0;  // a pipe would block the open
    std::ifstream in(file, std::ios::binary);
    if (!in) return 0;
    // CR, LF and CR LF each end one line.
    std::size_t breaks = 0;
    bool afterCr = false;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        for (std::size_t i = 0; i < got; ++i) {
            breaks += buffer[i] == '\r' || (buffer[i] == '\n' && !afterCr);
            afterCr = buffer[i] == '\r';
        }
        if (in.eof()) break;
    }
    return breaks + 1;
}

}  // namespace

TextEncoding OtoIniEncoding(const fs::path& otoIni, std::optional<TextEncoding> declared) {
    return DetectFileEncoding(otoIni, true, declared);
}

std::optional<TextEncoding> DeclaredTextEncoding(const fs::path& voiceFolder) {
    // character.yaml is UTF-8 (often with a byte order mark); only the one
    // top-level key is read: "text_file_encoding: utf-8" or "shift_jis".
    constexpr std::string_view kKey = "text_file_encoding:";
    const fs::path yaml =
        FindInFolder(voiceFolder, "character.yaml").value_or(voiceFolder / "character.yaml");
    std::error_code ec;
    if (!fs::is_regular_file(yaml, ec)) return std::nullopt;
    std::optional<TextEncoding> declared;
    try {
        bool first = true;
        ReadLines(yaml, kMaxLineBytes, [&](std::string_view line) {
            if (first && line.starts_with(kUtf8Bom)) line.remove_prefix(kUtf8Bom.size());
            first = false;
            if (!line.starts_with(kKey)) return true;
            std::string_view value = line.substr(kKey.size());
            if (const std::size_t comment = value.find(" #"); comment != std::string_view::npos)
                value = value.substr(0, comment);
            declared = EncodingFromName(TrimBlanks(value));
            return false;
        });
    } catch (const std::exception&) {
        return std::nullopt;  // unreadable: the files' own marks and bytes decide
    }
    return declared;
}

int NoteNameToNumber(std::string_view noteName) {
    if (noteName.size() < 2) return 0;
    const char last = noteName.back();
    const int octave = (last >= '0' && last <= '9') ? last - '0' : -1;
    int number = octave * 12 + 12;
    if (noteName.substr(1, noteName.size() - 2) == "#") number += 1;
    switch (noteName.front()) {
        case 'D':
            number += 2;
            break;
        case 'E':
            number += 4;
            break;
        case 'F':
            number += 5;
            break;
        case 'G':
            number += 7;
            break;
        case 'A':
            number += 9;
            break;
        case 'B':
            number += 11;
            break;
        default:
            break;
    }
    return number;
}

std::string_view FileStem(std::string_view fileName) {
    std::size_t dot = std::string_view::npos;
    std::size_t pos = 0;
    for (std::string_view character : Utf8Chars(fileName)) {
        if (character == ".")
            dot = pos;
        else if (IsPathDelimiter(character))
            dot = std::string_view::npos;
        pos += character.size();
    }
    return dot == std::string_view::npos ? fileName : fileName.substr(0, dot);
}

std::optional<OtoEntry> ParseOtoLine(std::string_view line) {
    // Cut at every "=" and ","; exactly seven fields make an entry. Cutting
    // bytes is safe: in UTF-8 an ASCII byte is always a character of its own.
    std::array<std::string_view, kOtoFieldCount> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != '=' && line[i] != ',') continue;
        if (count == kOtoFieldCount) return std::nullopt;
        fields[count++] = line.substr(start, i - start);
        start = i + 1;
    }
    if (count != kOtoFieldCount || line.empty()) return std::nullopt;
    OtoEntry entry;
    entry.FileName = std::string(fields[0]);
    entry.Alias = std::string(fields[1]);
    entry.Offset = ReadMs(fields[2]);
    entry.Consonant = ReadMs(fields[3]);
    entry.Cutoff = ReadMs(fields[4]);
    entry.PreUtterance = ReadMs(fields[5]);
    entry.Overlap = ReadMs(fields[6]);
    return entry;
}

Voicebank::Voicebank(OtoLookup lookup) : lookup_(lookup) {}

void Voicebank::ClearVoicebank() {
    otoList_.clear();
    ownEntry_.clear();
    foreignLines_.clear();
    undecodedEntries_.clear();
    charsetLine_.clear();
    byAlias_.clear();
    byStem_.clear();
    indexStale_ = false;
    prefixTable_ = PrefixRows{};
    voiceRoot_.clear();
    rootOtoReadError_.clear();
    otoEncoding_ = TextEncoding::ShiftJis;
    rootOtoFound_ = false;
    rootOtoPath_.clear();
    declaredEncoding_.reset();
}

void Voicebank::LoadVoicebank(std::string_view voiceDir) {
    ClearVoicebank();
    voiceRoot_ = std::string(voiceDir);
    try {
        if (!voiceRoot_.empty())
            declaredEncoding_ = DeclaredTextEncoding(FindExistingPath(Utf8Path(voiceRoot_)));
        ReadOtoTree(voiceRoot_);
        LoadPrefixMap(voiceRoot_);
    } catch (...) {
        // A refused file (a line too long) loads nothing rather than a part.
        ClearVoicebank();
        throw;
    }
}

void Voicebank::ReadOtoTree(std::string_view dir) {
    if (dir.empty()) return;
    std::set<fs::path> visited;
    ReadOtoFolder(FindExistingPath(Utf8Path(dir)), dir == voiceRoot_, visited);
}

void Voicebank::ReadOtoFolder(const fs::path& dir, bool isRoot, std::set<fs::path>& visited) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return;
    // A folder reached a second time (through a link back up the tree) is
    // not read again, so a link loop cannot hang the walk.
    fs::path identity = fs::canonical(dir, ec);
    if (ec) identity = fs::absolute(dir, ec).lexically_normal();
    if (!visited.insert(identity).second) return;

    // The voice folder's own oto.ini is rewritten by WriteOtoIni: remember
    // when it is there but could not be read, so that its entries are never
    // replaced by a table that lacks them.
    // The file as named, else its name in another case or normalisation.
    const fs::path oto = FindInFolder(dir, "oto.ini").value_or(dir / "oto.ini");
    if (isRoot) rootOtoPath_ = oto;
    const std::size_t lines = CountLinesAtMost(oto);
    // The largest banks hold tens of thousands of entries; a file of more
    // lines than this is refused before the table grows for it.
    if (otoList_.size() + lines > kMaxOtoLines + 1)
        throw std::runtime_error(PathToUtf8(oto) + ": more than " + std::to_string(kMaxOtoLines) +
                                 " lines in the voicebank's oto.ini files; no voicebank holds that "
                                 "many entries, so it was not read");
    if (otoList_.size() + lines > otoList_.capacity()) {
        const std::size_t wanted =
            std::max(otoList_.size() + lines, otoList_.capacity() + otoList_.capacity() / 2);
        otoList_.reserve(wanted);
        ownEntry_.reserve(wanted);
    }
    std::error_code readError;
    TextEncoding encoding = TextEncoding::ShiftJis;
    bool any = false;
    ForEachTextLine(oto, isRoot ? &readError : nullptr, true, declaredEncoding_, &encoding,
                    [&](std::string_view line, std::string_view bytes) {
                        any = true;
                        if (auto entry = ParseOtoLine(line)) {
                            Append(std::move(*entry), isRoot);
                            if (isRoot && !DecodedCleanly(line, bytes))
                                undecodedEntries_.emplace_back(otoList_.size() - 1,
                                                               std::string(bytes));
                        } else if (isRoot && CharsetDeclaration(line) && charsetLine_.empty())
                            charsetLine_ = bytes;
                        else if (isRoot && !TrimBlanks(line).empty())
                            foreignLines_.emplace_back(bytes);
                    });
    if (readError) rootOtoReadError_ = readError;
    if (isRoot) {
        std::error_code existsError;
        rootOtoFound_ = fs::is_regular_file(oto, existsError) && !readError;
        if (rootOtoFound_) otoEncoding_ = encoding;
        (void)any;
    }

    // Subfolders depth first, in the order the file system lists them; an
    // entry that cannot be listed or typed is skipped.
    fs::directory_iterator entries(dir, fs::directory_options::skip_permission_denied, ec);
    const fs::directory_iterator end;
    while (!ec && entries != end) {
        std::error_code typeError;
        if (entries->is_directory(typeError)) ReadOtoFolder(entries->path(), false, visited);
        Tick();
        entries.increment(ec);
    }
}

void Voicebank::Tick() const {
    if (progress_) progress_();
}

void Voicebank::AddOtoLine(std::string_view line) {
    if (auto entry = ParseOtoLine(line)) Append(std::move(*entry), true);
}

std::string Voicebank::FullPathFor(std::string_view fileName) const {
    std::string fullPath = voiceRoot_;
    fullPath += NativeSeparator();
    fullPath += fileName;
    return fullPath;
}

void Voicebank::Append(OtoEntry entry, bool ownEntry) {
    entry.FullPath = FullPathFor(entry.FileName);
    const int index = static_cast<int>(otoList_.size());
    if (lookup_ == OtoLookup::Indexed && !indexStale_) {
        // Indices only grow here: the first one stays the smallest.
        byAlias_.try_emplace(entry.Alias, index);
        byStem_.try_emplace(std::string(FileStem(entry.FileName)), index);
    }
    otoList_.push_back(std::move(entry));
    ownEntry_.push_back(ownEntry);
}

void Voicebank::RebuildIndex() {
    byAlias_.clear();
    byStem_.clear();
    for (int i = 0; i < OtoCount(); ++i) {
        byAlias_.try_emplace(otoList_[i].Alias, i);
        byStem_.try_emplace(std::string(FileStem(otoList_[i].FileName)), i);
    }
    indexStale_ = false;
}

void Voicebank::SetAlias(int index, std::string_view alias) {
    // A renamed entry is written from its text from now on.
    std::erase_if(undecodedEntries_, [index](const auto& undecoded) {
        return undecoded.first == static_cast<std::size_t>(index);
    });
    OtoEntry& entry = otoList_[index];
    if (lookup_ == OtoLookup::Indexed && !indexStale_) {
        // The old alias' first entry moves on to its next one, if any.
        if (auto old = byAlias_.find(entry.Alias); old != byAlias_.end() && old->second == index) {
            int next = index + 1;
            while (next < OtoCount() && otoList_[next].Alias != entry.Alias) ++next;
            if (next < OtoCount())
                old->second = next;
            else
                byAlias_.erase(old);
        }
        auto [now, added] = byAlias_.try_emplace(std::string(alias), index);
        if (!added && index < now->second) now->second = index;
    }
    entry.Alias = std::string(alias);
}

int Voicebank::FindOtoIndex(std::string_view alias) {
    const int index = lookup_ == OtoLookup::Indexed ? FindIndexed(alias) : FindLinear(alias);
    if (index >= 0) return index;
    // A Shift-JIS oto.ini holds "〜" as the code that reads back as "～":
    // a typed lyric finds the alias by that form too.
    const std::string lookAlike = ShiftJisLookAlike(alias);
    if (lookAlike == alias) return -1;
    return lookup_ == OtoLookup::Indexed ? FindIndexed(lookAlike) : FindLinear(lookAlike);
}

int Voicebank::FindLinear(std::string_view alias) {
    for (int i = 0; i < OtoCount(); ++i)
        if (otoList_[i].Alias == alias) return i;
    for (int i = 0; i < OtoCount(); ++i) {
        if (FileStem(otoList_[i].FileName) == alias) {
            // Only an entry without an alias takes the name it was found by;
            // an alias the file holds is never replaced.
            if (otoList_[i].Alias.empty()) SetAlias(i, alias);
            return i;
        }
    }
    return -1;
}

int Voicebank::FindIndexed(std::string_view alias) {
    if (indexStale_) RebuildIndex();
    const std::string key(alias);
    if (auto hit = byAlias_.find(key); hit != byAlias_.end()) return hit->second;
    if (auto hit = byStem_.find(key); hit != byStem_.end()) {
        const int index = hit->second;
        if (otoList_[index].Alias.empty()) SetAlias(index, alias);
        return index;
    }
    return -1;
}

OtoEntry Voicebank::GetOto(std::string_view alias) {
    const int index = FindOtoIndex(alias);
    return index >= 0 ? otoList_[index] : OtoEntry{};
}

OtoEntry Voicebank::GetOtoWithPrefix(std::string_view alias, int noteNum) {
    if (noteNum >= kFirstMappedNote && noteNum <= kLastMappedNote) {
        const PrefixRow& row = prefixTable_[noteNum];
        std::string decorated = row.Prefix;
        decorated += alias;
        decorated += row.Suffix;
        OtoEntry found = GetOto(decorated);
        if (!found.Alias.empty()) return found;
    }
    return GetOto(alias);
}

std::string Voicebank::StripPrefixSuffix(std::string_view alias, int noteNum) const {
    if (noteNum < 0 || noteNum >= kPrefixRows) return std::string(alias);
    const PrefixRow& row = prefixTable_[noteNum];
    if (!alias.starts_with(row.Prefix) || !alias.ends_with(row.Suffix)) return std::string(alias);
    if (row.Prefix.size() + row.Suffix.size() >= alias.size()) return {};
    return std::string(
        alias.substr(row.Prefix.size(), alias.size() - row.Prefix.size() - row.Suffix.size()));
}

void Voicebank::RemoveOtoByPath(std::string_view fullPath) {
    std::size_t kept = 0;
    auto undecoded = undecodedEntries_.begin();
    auto undecodedKept = undecodedEntries_.begin();
    for (std::size_t i = 0; i < otoList_.size(); ++i) {
        const bool removed = otoList_[i].FullPath == fullPath;
        if (undecoded != undecodedEntries_.end() && undecoded->first == i) {
            if (!removed) *undecodedKept++ = {kept, std::move(undecoded->second)};
            ++undecoded;
        }
        if (removed) continue;
        if (kept != i) {
            otoList_[kept] = std::move(otoList_[i]);
            ownEntry_[kept] = ownEntry_[i];
        }
        ++kept;
    }
    undecodedEntries_.erase(undecodedKept, undecodedEntries_.end());
    if (kept == otoList_.size()) return;
    otoList_.resize(kept);
    ownEntry_.resize(kept);
    indexStale_ = true;
}

bool Voicebank::DecodedCleanly(std::string_view text, std::string_view bytes) const {
    // Bytes a decoder could not read come out as U+FFFD (UTF-8) or U+001A
    // (Shift-JIS); only a line holding one of those can differ from its bytes.
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    if (text.find(kReplacement) == std::string_view::npos &&
        text.find('\x1A') == std::string_view::npos)
        return true;
    return text == bytes;
}

void Voicebank::LoadPrefixMap(std::string_view dir) {
    prefixTable_ = PrefixRows{};
    if (dir.empty()) return;
    std::vector<std::string> fields;
    const fs::path folder = FindExistingPath(Utf8Path(dir));
    // character.yaml's subbanks, where there are any, take the prefix map's place.
    if (std::optional<PrefixRows> subbanks = ReadSubbanks(folder)) {
        prefixTable_ = *std::move(subbanks);
        return;
    }
    ForEachTextLine(FindInFolder(folder, "prefix.map").value_or(folder / "prefix.map"), nullptr,
                    false, declaredEncoding_, nullptr,
                    [&](std::string_view line, std::string_view) {
                        SplitText(line, "\t", fields);
                        if (fields.size() < 2) return;
                        const int noteNum = NoteNameToNumber(fields[0]);
                        if (noteNum < kFirstMappedNote || noteNum > kLastMappedNote) return;
                        prefixTable_[noteNum].Prefix = fields[1];
                        if (fields.size() >= 3) prefixTable_[noteNum].Suffix = fields[2];
                    });
}

Voicebank& DefaultVoicebank() {
    static Voicebank voicebank;
    return voicebank;
}

}  // namespace melodrift
