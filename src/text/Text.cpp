#include "text/Text.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <utility>

namespace melodrift {

void SplitText(std::string_view text, std::string_view delimiters, std::vector<std::string>& list) {
    list.clear();
    if (text.empty() || delimiters.empty()) return;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (delimiters.find(text[i]) != std::string_view::npos) {
            list.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    list.emplace_back(text.substr(start));
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiters) {
    std::vector<std::string> list;
    SplitText(text, delimiters, list);
    return list;
}

std::string EscapeControlCharacters(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(byte);  // a C1 control in UTF-8 (0x9B is the terminal's CSI)
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string_view TrimBlanks(std::string_view text) {
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Grammar check; reports whether any mantissa digit was seen.
bool CheckFloat(std::string_view s, bool& hasDigit) {
    std::size_t i = 0;
    hasDigit = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    while (i < s.size() && IsDigit(s[i])) {
        ++i;
        hasDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            ++i;
            hasDigit = true;
        }
    }
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t expStart = i;
        while (i < s.size() && IsDigit(s[i])) ++i;
        if (i == expStart) return false;
    }
    if (i != s.size()) return false;
    // A lone sign or an empty text fails the check; a lone point passes it.
    return i > 0 && !(s.size() == 1 && (s[0] == '+' || s[0] == '-'));
}

double ReadCheckedFloat(std::string_view s) {
    // from_chars does not take a leading '+'; strtod would follow the C locale,
    // from_chars always reads "." as the separator.
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Overflow reads as ±HUGE_VAL, underflow as 0, as strtod gives them.
        std::string copy(s);
        return std::strtod(copy.c_str(), nullptr);
    }
    if (ec != std::errc() || ptr != s.data() + s.size())
        throw ConversionError("'" + EscapeControlCharacters(s) +
                              "' is not a valid floating point value");
    return value;
}

}  // namespace

bool LooksLikeFloat(std::string_view trimmed) {
    bool hasDigit = false;
    return CheckFloat(trimmed, hasDigit);
}

double ParseFloatOr(std::string_view text, double fallback) {
    std::string_view s = TrimBlanks(text);
    bool hasDigit = false;
    if (!CheckFloat(s, hasDigit)) return fallback;
    if (!hasDigit)
        throw ConversionError("'" + EscapeControlCharacters(s) +
                              "' is not a valid floating point value");
    return ReadCheckedFloat(s);
}

double ParseDouble(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    bool hasDigit = false;
    if (!CheckFloat(s, hasDigit) || !hasDigit)
        throw ConversionError("'" + EscapeControlCharacters(s) +
                              "' is not a valid floating point value");
    return ReadCheckedFloat(s);
}

std::int64_t ParseInt64(std::string_view text) {
    std::string_view s = TrimBlanks(text);
    const std::string original(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s[0] == '$') {
        base = 16;
        s.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() ||
        magnitude > (negative ? 9223372036854775808ULL : 9223372036854775807ULL))
        throw ConversionError("'" + EscapeControlCharacters(original) +
                              "' is not a valid integer value");
    if (negative)
        return magnitude == 9223372036854775808ULL ? INT64_MIN
                                                   : -static_cast<std::int64_t>(magnitude);
    return static_cast<std::int64_t>(magnitude);
}

std::int32_t ParseInt32(std::string_view text) {
    std::int64_t value = ParseInt64(text);
    if (value < INT32_MIN || value > INT32_MAX)
        throw ConversionError("'" + EscapeControlCharacters(TrimBlanks(text)) +
                              "' is not a valid integer value");
    return static_cast<std::int32_t>(value);
}

void SortByKey(KeyedValues& pairs) {
    const int count = static_cast<int>(pairs.size());
    if (count < 2) return;
    // Each push stores the larger side's partner range; at most one range per
    // halving, so 64 entries cover any array that fits in memory.
    std::pair<int, int> stack[64];
    int top = 0;
    int lo = 0;
    int hi = count - 1;
    for (;;) {
        while (hi - lo > 10) {
            const double a = pairs[lo].Key;
            const double b = pairs[(lo + hi) / 2].Key;
            const double c = pairs[hi].Key;
            double pivot;
            if (a < b)
                pivot = b < c ? b : (a < c ? c : a);
            else
                pivot = a < c ? a : (b < c ? c : b);
            int i = lo;
            int j = hi;
            for (;;) {
                while (pairs[i].Key < pivot) ++i;
                while (pairs[j].Key > pivot) --j;
                if (i >= j) break;
                std::swap(pairs[i], pairs[j]);
                ++i;
                --j;
            }
            if (hi - j < i - lo) {
                stack[top++] = {lo, i - 1};
                lo = j + 1;
            } else {
                stack[top++] = {j + 1, hi};
                hi = i - 1;
            }
        }
        if (top == 0) break;
        --top;
        lo = stack[top].first;
        hi = stack[top].second;
    }
    for (int k = 1; k < count; ++k) {
        KeyedValue item = pairs[k];
        int m = k - 1;
        while (m >= 0 && pairs[m].Key > item.Key) {
            pairs[m + 1] = pairs[m];
            --m;
        }
        pairs[m + 1] = item;
    }
}

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace melodrift
