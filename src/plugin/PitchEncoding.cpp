#include "plugin/PitchEncoding.h"

#include <cstdint>
#include <vector>

#include "text/Text.h"

namespace melodrift {

char SixBitChar(int value) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    return kAlphabet[value & 63];
}

namespace {

// Two characters: bits 6..11 and bits 0..5 of the value's 32-bit two's
// complement form, so the pair holds the value modulo 4096.
std::string Code(std::int32_t value) {
    const std::uint32_t bits = static_cast<std::uint32_t>(value);
    return {SixBitChar(static_cast<int>((bits >> 6) & 63u)),
            SixBitChar(static_cast<int>(bits & 63u))};
}

}  // namespace

std::string EncodePitchList(std::string_view text, std::string_view prefix) {
    const std::string_view body =
        text.size() > prefix.size() ? text.substr(prefix.size()) : std::string_view{};

    std::vector<std::string> codes;
    for (const std::string& item : SplitText(body, ",")) codes.push_back(Code(ParseInt32(item)));

    // Runs are found on the codes (values 4096 apart join one run); the code
    // past the end is the empty text, which closes a run at the end.
    std::string out(prefix);
    const std::size_t count = codes.size();
    bool inRun = false;
    std::size_t runStart = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const bool sameAsNext = k + 1 < count && codes[k] == codes[k + 1];
        if (!inRun && sameAsNext) {
            inRun = true;
            runStart = k;
        } else if (inRun && !sameAsNext) {
            out += codes[k];
            out += '#';
            out += std::to_string(k - runStart);
            out += '#';
            inRun = false;
        } else if (!inRun) {
            out += codes[k];
        }
    }
    return out;
}

}  // namespace melodrift
