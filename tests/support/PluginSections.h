// Reads back a plug-in file that the program wrote: its "[...]" sections with
// their key=value lines in order, bytes as written.
#pragma once

#include "system/Files.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace melodrift::testing {

struct Section {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Lines;
    std::optional<std::string> Get(const std::string& key) const {
        for (const auto& [k, v] : Lines)
            if (k == key) return v;
        return std::nullopt;
    }
    bool Has(const std::string& key) const { return Get(key).has_value(); }
};

// Every section of the file; a line without "=" has the whole line as key.
inline std::vector<Section> ReadSections(const std::filesystem::path& path) {
    std::vector<Section> sections;
    for (const std::string& line : SplitLines(ReadFileBytes(path))) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            sections.push_back(Section{line.substr(1, line.size() - 2), {}});
        } else if (!sections.empty()) {
            const auto eq = line.find('=');
            sections.back().Lines.emplace_back(line.substr(0, eq),
                                               eq == std::string::npos ? "" : line.substr(eq + 1));
        }
    }
    return sections;
}

// Only the notes the program inserted, in file order.
inline std::vector<Section> InsertedSections(const std::filesystem::path& path) {
    std::vector<Section> inserted;
    for (Section& section : ReadSections(path))
        if (section.Name == "#INSERT") inserted.push_back(std::move(section));
    return inserted;
}

// The lyrics of the song's notes where the host sent `sent` (the selected
// notes' lyrics, in order), after it applied the reply `reply` as OpenUtau
// reads one: one index walks the sent notes; [#INSERT] inserts a note at the
// index and moves on, a numbered section replaces the note at the index and
// moves on, [#DELETE] removes it and the index stays. Notes the reply never
// reaches are kept, after the inserted notes.
inline std::vector<std::string> ApplyReplyAsOpenUtau(std::vector<std::string> sent,
                                                     const std::vector<Section>& reply) {
    std::size_t index = 0;
    for (const Section& section : reply) {
        if (section.Name == "#SETTING") continue;
        const std::string lyric = section.Get("Lyric").value_or("");
        if (section.Name == "#INSERT") {
            sent.insert(sent.begin() + static_cast<std::ptrdiff_t>(index++), lyric);
        } else if (index < sent.size()) {
            if (section.Name == "#DELETE")
                sent.erase(sent.begin() + static_cast<std::ptrdiff_t>(index));
            else
                sent[index++] = lyric;
        }
    }
    return sent;
}

}  // namespace melodrift::testing
