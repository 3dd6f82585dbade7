#include "text/Encoding.h"

#include "text/CodePage.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace melodrift {

namespace {

// Characters that CP932 holds only as another code point, as Windows'
// best-fit table maps them: the character typed and the one CP932 decodes to.
constexpr std::array<std::pair<char16_t, char16_t>, 7> kBestFit{{
    {u'\u301C', u'\uFF5E'},  // 〜 wave dash → ～ 0x8160
    {u'\u2212', u'\uFF0D'},  // − minus sign → － 0x817C
    {u'\u2016', u'\u2225'},  // ‖ double vertical line → ∥ 0x8161
    {u'\u2014', u'\u2015'},  // — em dash → ― 0x815C
    {u'\u00A2', u'\uFFE0'},  // ¢ → ￠ 0x8191
    {u'\u00A3', u'\uFFE1'},  // £ → ￡ 0x8192
    {u'\u00AC', u'\uFFE2'},  // ¬ → ￢ 0x81CA
}};

bool IsAsciiText(std::string_view utf8) {
    return std::all_of(utf8.begin(), utf8.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The text as UTF-16 with every best-fit character replaced by the one CP932
// holds.
std::u16string WithBestFitCharacters(std::string_view utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    for (char16_t& unit : text)
        for (const auto& [typed, held] : kBestFit)
            if (unit == typed) unit = held;
    return text;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto fold = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return fold(x) == fold(y);
    });
}

}  // namespace

bool IsValidShiftJis(std::string_view bytes) { return Cp932ToUtf16Exact(bytes).has_value(); }

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    if (encoding == TextEncoding::ShiftJis) return Cp932ToUtf8(bytes);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return Utf16ToUtf8(Utf8ToUtf16(bytes));  // broken sequences become U+FFFD
}

std::optional<std::string> EncodeShiftJis(std::string_view utf8, std::string* refused) {
    if (IsAsciiText(utf8)) return std::string(utf8);
    const std::u16string text = WithBestFitCharacters(utf8);
    if (std::optional<std::string> bytes = Utf16ToCp932Exact(text)) return bytes;
    if (refused != nullptr) {
        // The first character CP932 has no form for, tried one at a time.
        refused->clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            std::size_t units = 1;
            if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) units = 2;
            const std::u16string_view one(text.data() + i, units);
            if (!Utf16ToCp932Exact(one)) {
                *refused = Utf16ToUtf8(one);
                break;
            }
            i += units - 1;
        }
    }
    return std::nullopt;
}

std::string EncodeText(std::string_view utf8, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8) return std::string(utf8);
    if (encoding == TextEncoding::Utf8WithBom) return std::string(kUtf8Bom) + std::string(utf8);
    std::string refused;
    std::optional<std::string> bytes = EncodeShiftJis(utf8, &refused);
    if (!bytes) throw UnencodableText(refused, UnencodableMessage(refused));
    return *std::move(bytes);
}

std::string ShiftJisLookAlike(std::string_view utf8) {
    if (IsAsciiText(utf8)) return std::string(utf8);
    return Utf16ToUtf8(WithBestFitCharacters(utf8));
}

bool ShiftJisHoldsExactly(std::string_view utf8) {
    const std::optional<std::string> bytes = EncodeShiftJis(utf8);
    return bytes && Cp932ToUtf8(*bytes) == utf8;
}

std::optional<TextEncoding> EncodingFromName(std::string_view name) {
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t' || name.front() == '"' ||
                             name.front() == '\''))
        name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '"' ||
                             name.back() == '\'' || name.back() == '\r'))
        name.remove_suffix(1);
    for (std::string_view utf8 : {"utf-8", "utf8", "utf_8"})
        if (EqualsIgnoringAsciiCase(name, utf8)) return TextEncoding::Utf8;
    for (std::string_view sjis :
         {"shift_jis", "shift-jis", "shiftjis", "sjis", "cp932", "windows-31j", "ms932"})
        if (EqualsIgnoringAsciiCase(name, sjis)) return TextEncoding::ShiftJis;
    return std::nullopt;
}

std::string UnencodableMessage(std::string_view characterUtf8) {
    char codePoint[16] = "";
    const std::u16string units = Utf8ToUtf16(characterUtf8);
    if (!units.empty()) {
        char32_t c = units[0];
        // A surrogate pair: 0x10000 + (lead − 0xD800) × 0x400 + (trail − 0xDC00).
        if (units.size() > 1 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 &&
            units[1] <= 0xDFFF)
            c = 0x10000 + ((static_cast<char32_t>(units[0]) - 0xD800) << 10) +
                (static_cast<char32_t>(units[1]) - 0xDC00);
        std::snprintf(codePoint, sizeof codePoint, "U+%04X", static_cast<unsigned>(c));
    }
    return "文字「" + std::string(characterUtf8) + "」（" + codePoint +
           "）はShift-JISで表せないため、Shift-"
           "JISのファイルに書き込めません。別の文字に変えてください。";
}

}  // namespace melodrift
