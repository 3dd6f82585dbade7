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

}  // namespace melodrift::testing
