#include "voicebank/OtoIniEdit.h"

#include "voicebank/Voicebank.h"

#include "text/Text.h"

#include <algorithm>
#include <optional>

namespace melodrift {

namespace {

// One line of the file: its bytes without the line end, and the line end as
// found ("\r\n", "\n", "\r", or "" for a last line without one).
struct RawLine {
    std::string_view Text;
    std::string_view End;
};

std::vector<RawLine> SplitKeepingEnds(std::string_view bytes) {
    std::vector<RawLine> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({bytes.substr(start), {}});
            break;
        }
        const std::size_t endLength =
            bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1;
        lines.push_back({bytes.substr(start, end - start), bytes.substr(end, endLength)});
        start = end + endLength;
    }
    return lines;
}

// The line as the file's own encoding; throws for a CP932 file that cannot hold it.
std::string Encoded(const std::string& line, TextEncoding encoding) {
    if (encoding != TextEncoding::ShiftJis || IsAscii(line)) return line;
    std::string refused;
    std::optional<std::string> bytes = EncodeShiftJis(line, &refused);
    if (!bytes)
        throw UnencodableText(refused, "原音設定（oto.ini）はShift-JISで書かれているため、" +
                                           UnencodableMessage(refused));
    return *std::move(bytes);
}

}  // namespace

EditedOtoIni ReplaceRecordingEntries(std::string_view oldBytes, bool existed, TextEncoding encoding,
                                     const std::vector<std::string>& fileNames,
                                     const std::vector<std::string>& newLines) {
    if (!existed || oldBytes.empty()) {
        // A new (or empty) file: CP932 as the hosts have always read it, unless a line
        // needs UTF-8 (then with the mark that tells the hosts so).
        encoding = TextEncoding::ShiftJis;
        for (const std::string& line : newLines)
            if (!EncodeShiftJis(line)) encoding = TextEncoding::Utf8WithBom;
        std::string text;
        if (encoding == TextEncoding::Utf8WithBom) text = kUtf8Bom;
        for (const std::string& line : newLines) text += Encoded(line, encoding) + "\r\n";
        return {std::move(text), encoding};
    }

    std::string_view body = oldBytes;
    std::string text;
    text.reserve(oldBytes.size() + 64 * newLines.size());
    if (body.starts_with(kUtf8Bom)) {
        text += kUtf8Bom;
        body.remove_prefix(kUtf8Bom.size());
    }
    const std::vector<RawLine> lines = SplitKeepingEnds(body);
    std::string_view lineEnd = "\r\n";
    for (const RawLine& line : lines) {
        if (!line.End.empty()) {
            lineEnd = line.End;
            break;
        }
    }
    std::string added;
    for (const std::string& line : newLines) {
        added += Encoded(line, encoding);
        added += lineEnd;
    }

    bool placed = false;
    for (const RawLine& line : lines) {
        const std::string decoded =
            IsAscii(line.Text) ? std::string(line.Text) : DecodeText(line.Text, encoding);
        const std::optional<OtoEntry> entry = ParseOtoLine(decoded);
        const bool recordings = entry && std::find(fileNames.begin(), fileNames.end(),
                                                   entry->FileName) != fileNames.end();
        if (!recordings) {
            text += line.Text;
            text += line.End;
            continue;
        }
        if (!placed) text += added;
        placed = true;
    }
    if (!placed) {
        // After the last line; a last line without a line end gets one first.
        if (!lines.empty() && lines.back().End.empty()) text += lineEnd;
        text += added;
    }
    return {std::move(text), encoding};
}

}  // namespace melodrift
