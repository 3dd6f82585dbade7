// Writing a whole oto.ini from the voicebank's own entries (a new file, or
// one rewritten entry by entry). Voice correction edits an existing file in
// place instead (OtoIniEdit), keeping every other byte.
#include "voicebank/Voicebank.h"

#include "system/FileNames.h"
#include "system/Files.h"
#include "text/Encoding.h"
#include "text/NumberFormat.h"
#include "text/ShiftJisConverter.h"
#include "text/Text.h"

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace melodrift {

namespace fs = std::filesystem;

namespace {

// Whole ms, halves up (the largest whole number not above x + 0.5). Formatted
// from the double so that values beyond 64-bit integers cannot overflow.
std::string WholeMs(double ms) { return FormatFixed(std::floor(ms + 0.5) + 0.0, 0); }

}  // namespace

std::string Voicebank::OtoIniText() const {
    // Entries are text; the lines that are not entries are the file's own
    // bytes. A file that was read keeps its encoding; a new one is CP932
    // unless an entry has no CP932 form, then UTF-8 with a byte order mark.
    std::vector<std::string> lines;
    std::vector<bool>
        asRead;  // per line: an entry kept as its bytes, already in the file's encoding
    auto undecoded = undecodedEntries_.begin();
    for (std::size_t i = 0; i < otoList_.size(); ++i) {
        while (undecoded != undecodedEntries_.end() && undecoded->first < i) ++undecoded;
        if (!ownEntry_[i]) continue;
        if (undecoded != undecodedEntries_.end() && undecoded->first == i) {
            lines.push_back(undecoded->second);
            asRead.push_back(true);
            continue;
        }
        const OtoEntry& entry = otoList_[i];
        std::string line = entry.FileName + "=" + entry.Alias;
        for (double ms :
             {entry.Offset, entry.Consonant, entry.Cutoff, entry.PreUtterance, entry.Overlap}) {
            line += ',';
            line += WholeMs(ms);
        }
        lines.push_back(std::move(line));
        asRead.push_back(false);
    }
    TextEncoding encoding = otoEncoding_;
    if (!rootOtoFound_) {
        encoding = TextEncoding::ShiftJis;
        for (const std::string& line : lines)
            if (!EncodeShiftJis(line)) encoding = TextEncoding::Utf8WithBom;
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
        std::string& line = lines[k];
        if (asRead[k] || IsAscii(line)) continue;
        if (encoding == TextEncoding::ShiftJis) {
            std::string refused;
            std::optional<std::string> bytes = EncodeShiftJis(line, &refused);
            if (!bytes)
                throw UnencodableText(refused,
                                      "原音設定（oto.ini）はShift-JISで書かれているため、" +
                                          UnencodableMessage(refused));
            line = *std::move(bytes);
        }
    }
    // Lines of the folder's own oto.ini that are not entries (notes, aliases
    // with a comma, hand-made lines of another form) belong to the user:
    // they are written back as they were read.
    lines.insert(lines.end(), foreignLines_.begin(), foreignLines_.end());
    // The "#Charset:" declaration stays first, within the lines it is read from.
    if (!charsetLine_.empty()) lines.insert(lines.begin(), charsetLine_);
    std::string text = JoinLinesCrLf(lines);
    if (encoding == TextEncoding::Utf8WithBom && !lines.empty()) text.insert(0, kUtf8Bom);
    return text;
}

bool Voicebank::WriteOtoIni() const {
    FileTransaction files;
    const bool written = WriteOtoIni(files);
    files.Commit();
    return written;
}

bool Voicebank::WriteOtoIni(FileTransaction& files) const {
    if (voiceRoot_.empty()) return false;
    const fs::path root = FindExistingPath(Utf8Path(voiceRoot_));
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return false;
    // The oto.ini that was read is the one rewritten, whatever the case of its name.
    const fs::path oto = rootOtoFound_ && !rootOtoPath_.empty() ? rootOtoPath_ : root / "oto.ini";
    if (rootOtoReadError_) {
        // A pipe or a device in the file's place is named as what it is not.
        const bool notAFile = rootOtoReadError_ == std::errc::invalid_argument;
        throw std::system_error(rootOtoReadError_,
                                PathToUtf8(oto) + (notAFile ? ": not a regular file" : ""));
    }
    files.Add(oto, OtoIniText());
    return true;
}

}  // namespace melodrift
