// The "subbanks" list of a voice folder's character.yaml: OpenUtau's form of
// the prefix map. Each subbank gives a prefix and a suffix for the tones in
// its ranges:
//
//   subbanks:
//   - color: ""
//     prefix: ""
//     suffix: "_H"
//     tone_ranges:
//     - C4-B7        (a range, both ends included; "C4" alone is one tone)
//
// Only this list is read (a block list of mappings; quoted or plain scalars;
// tone ranges as a block or a flow list "[C1-B3, C4]").
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "voicebank/Voicebank.h"

namespace melodrift {

// The prefix rows the subbanks give, rows 24..107 (C1..B7); a tone in
// several subbanks takes the first one's. Nothing when the text holds no
// subbank (no "subbanks:" key or an empty list).
std::optional<PrefixRows> ParseSubbanks(const std::vector<std::string>& lines);

// ParseSubbanks on the folder's character.yaml (UTF-8, a byte order mark
// allowed); nothing when there is no such file or it cannot be read.
std::optional<PrefixRows> ReadSubbanks(const std::filesystem::path& voiceFolder);

}  // namespace melodrift
