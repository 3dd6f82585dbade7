#include "voicebank/Subbanks.h"

#include "text/Encoding.h"
#include "system/FileNames.h"
#include "system/Files.h"
#include "text/Text.h"

#include <algorithm>
#include <exception>
#include <string>
#include <system_error>
#include <utility>

namespace melodrift {

namespace {

struct Subbank {
    std::string Prefix;
    std::string Suffix;
    std::vector<std::string> ToneRanges;
};

std::size_t Indent(std::string_view line) {
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string_view::npos ? line.size() : first;
}

// A scalar value: '…' (with '' for a quote), "…" (with \" and \\), or plain
// text up to a " #" comment, blanks trimmed.
std::string Scalar(std::string_view value) {
    value = TrimBlanks(value);
    if (value.size() >= 2 && value.front() == '\'') {
        std::string out;
        for (std::size_t i = 1; i < value.size(); ++i) {
            if (value[i] != '\'')
                out += value[i];
            else if (i + 1 < value.size() && value[i + 1] == '\'')
                out += value[++i];
            else
                break;
        }
        return out;
    }
    if (value.size() >= 2 && value.front() == '"') {
        std::string out;
        for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            out += value[i];
        }
        return out;
    }
    if (const std::size_t comment = value.find(" #"); comment != std::string_view::npos)
        value = TrimBlanks(value.substr(0, comment));
    return std::string(value);
}

// The items of a flow list "[a, b]".
std::vector<std::string> FlowItems(std::string_view value) {
    value = TrimBlanks(value);
    if (value.size() < 2 || value.front() != '[') return {};
    const std::size_t close = value.find(']');
    std::vector<std::string> items;
    for (const std::string& item : SplitText(
             value.substr(1, close == std::string_view::npos ? value.size() - 1 : close - 1), ","))
        if (std::string text = Scalar(item); !text.empty()) items.push_back(std::move(text));
    return items;
}

// "C1-F4" → {24, 65}; "C4" → {60, 60}; {0, −1} when not a range.
std::pair<int, int> ToneRange(std::string_view range) {
    const std::size_t dash = range.find('-');
    const std::string_view low = TrimBlanks(range.substr(0, dash));
    const std::string_view high =
        dash == std::string_view::npos ? low : TrimBlanks(range.substr(dash + 1));
    const int from = NoteNameToNumber(low);
    const int to = NoteNameToNumber(high);
    if (from <= 0 || to <= 0) return {0, -1};
    return {from, to};
}

}  // namespace

std::optional<PrefixRows> ParseSubbanks(const std::vector<std::string>& lines) {
    std::vector<Subbank> banks;
    bool inList = false;
    std::optional<std::size_t> itemIndent;
    bool inRanges = false;
    for (std::string_view line : lines) {
        if (const std::size_t comment = line.find(" #");
            comment != std::string_view::npos &&
            line.find_first_of("'\"") == std::string_view::npos)
            line = line.substr(0, comment);
        if (TrimBlanks(line).empty() || TrimBlanks(line).front() == '#') continue;
        const std::size_t indent = Indent(line);
        std::string_view body = line.substr(indent);
        if (!inList) {
            if (indent == 0 && body.starts_with("subbanks:")) {
                inList = true;
                // An empty flow list "subbanks: []" holds nothing.
                if (TrimBlanks(body.substr(9)).starts_with("[")) break;
            }
            continue;
        }
        const bool dash = body.starts_with("- ") || body == "-";
        // A top-level key ends the list.
        if (indent == 0 && !dash) break;
        if (dash && (!itemIndent || indent == *itemIndent)) {
            itemIndent = indent;
            banks.emplace_back();
            inRanges = false;
            body = TrimBlanks(body.substr(1));
            if (body.empty()) continue;
        } else if (dash && inRanges && !banks.empty()) {
            if (std::string range = Scalar(body.substr(1)); !range.empty())
                banks.back().ToneRanges.push_back(std::move(range));
            continue;
        }
        if (banks.empty()) continue;
        const std::size_t colon = body.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = TrimBlanks(body.substr(0, colon));
        const std::string_view value = body.substr(colon + 1);
        inRanges = false;
        if (key == "prefix")
            banks.back().Prefix = Scalar(value);
        else if (key == "suffix")
            banks.back().Suffix = Scalar(value);
        else if (key == "tone_ranges") {
            if (TrimBlanks(value).empty())
                inRanges = true;
            else
                banks.back().ToneRanges = FlowItems(value);
        }
    }
    if (banks.empty()) return std::nullopt;

    PrefixRows rows{};
    std::vector<bool> taken(kPrefixRows, false);
    for (const Subbank& bank : banks) {
        for (const std::string& text : bank.ToneRanges) {
            const auto [from, to] = ToneRange(text);
            for (int tone = std::max(from, kFirstMappedNote); tone <= std::min(to, kLastMappedNote);
                 ++tone) {
                if (taken[static_cast<std::size_t>(tone)]) continue;
                taken[static_cast<std::size_t>(tone)] = true;
                rows[static_cast<std::size_t>(tone)] = PrefixRow{bank.Prefix, bank.Suffix};
            }
        }
    }
    return rows;
}

std::optional<PrefixRows> ReadSubbanks(const std::filesystem::path& voiceFolder) {
    const std::filesystem::path yaml =
        FindInFolder(voiceFolder, "character.yaml").value_or(voiceFolder / "character.yaml");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(yaml, ec)) return std::nullopt;
    std::vector<std::string> lines;
    try {
        bool first = true;
        ReadLines(yaml, kMaxLineBytes, [&](std::string_view line) {
            if (first && line.starts_with(kUtf8Bom)) line.remove_prefix(kUtf8Bom.size());
            first = false;
            lines.emplace_back(line);
            return true;
        });
    } catch (const std::exception&) {
        return std::nullopt;  // unreadable: the prefix map stands
    }
    return ParseSubbanks(lines);
}

}  // namespace melodrift
