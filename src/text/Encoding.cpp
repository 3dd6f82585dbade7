#include "text/Encoding.h"

#include "text/CodePage.h"
#include "text/ShiftJisConverter.h"

#include <unicode/ucnv.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace melodrift {

namespace {

constexpr const char* kCp932 = "windows-31j";

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that stops at the first byte or character it cannot convert.
ConverterPtr OpenStrictCp932() {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(kCp932, &status));
    if (U_FAILURE(status) || !converter) throw std::runtime_error("ICU has no windows-31j converter");
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    return converter;
}

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
    return std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return fold(x) == fold(y);
    });
}

}  // namespace

bool IsValidShiftJis(std::string_view bytes) {
    if (bytes.empty()) return true;
    ConverterPtr converter = OpenStrictCp932();
    std::u16string out(bytes.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                  static_cast<int32_t>(bytes.size()), &status);
    return U_SUCCESS(status);
}

bool IsValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string DecodeText(std::string_view bytes, TextEncoding encoding) {
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    if (encoding == TextEncoding::ShiftJis) return Cp932ToUtf8(bytes);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return Utf16ToUtf8(Utf8ToUtf16(bytes));   // ICU replaces broken sequences by U+FFFD
}

std::optional<std::string> EncodeShiftJis(std::string_view utf8, std::string* refused) {
    if (IsAsciiText(utf8)) return std::string(utf8);
    const std::u16string text = WithBestFitCharacters(utf8);
    ConverterPtr converter = OpenStrictCp932();
    std::string out(text.size() * 2 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                                           text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_SUCCESS(status)) {
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
    if (refused != nullptr) {
        // The first character the converter refuses, found one at a time.
        refused->clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            std::size_t units = 1;
            if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) units = 2;
            const std::u16string_view one(text.data() + i, units);
            ConverterPtr single = OpenStrictCp932();
            char buffer[8];
            UErrorCode charStatus = U_ZERO_ERROR;
            ucnv_fromUChars(single.get(), buffer, sizeof buffer, one.data(), static_cast<int32_t>(one.size()),
                            &charStatus);
            if (U_FAILURE(charStatus)) {
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
    for (std::string_view sjis : {"shift_jis", "shift-jis", "shiftjis", "sjis", "cp932", "windows-31j", "ms932"})
        if (EqualsIgnoringAsciiCase(name, sjis)) return TextEncoding::ShiftJis;
    return std::nullopt;
}

std::string UnencodableMessage(std::string_view characterUtf8) {
    char codePoint[16] = "";
    const std::u16string units = Utf8ToUtf16(characterUtf8);
    if (!units.empty()) {
        UChar32 c = units[0];
        if (units.size() > 1 && U16_IS_LEAD(units[0]) && U16_IS_TRAIL(units[1]))
            c = U16_GET_SUPPLEMENTARY(units[0], units[1]);
        std::snprintf(codePoint, sizeof codePoint, "U+%04X", static_cast<unsigned>(c));
    }
    return "文字「" + std::string(characterUtf8) + "」（" + codePoint +
           "）はShift-JISで表せないため、Shift-JISのファイルに書き込めません。別の文字に変えてください。";
}

struct ShiftJisConverter::Converters {
    ConverterPtr strict = OpenStrictCp932();
    ConverterPtr lenient = [] {
        UErrorCode status = U_ZERO_ERROR;
        ConverterPtr converter(ucnv_open(kCp932, &status));
        if (U_FAILURE(status) || !converter) throw std::runtime_error("ICU has no windows-31j converter");
        return converter;
    }();
};

ShiftJisConverter::ShiftJisConverter() : converters_(std::make_unique<Converters>()) {}
ShiftJisConverter::~ShiftJisConverter() = default;

bool ShiftJisConverter::IsValid(std::string_view bytes) {
    if (bytes.empty()) return true;
    buffer_.resize(bytes.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converters_->strict.get());
    ucnv_toUChars(converters_->strict.get(), buffer_.data(), static_cast<int32_t>(buffer_.size()), bytes.data(),
                  static_cast<int32_t>(bytes.size()), &status);
    return U_SUCCESS(status);
}

std::string ShiftJisConverter::Decode(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    if (bytes.empty()) return {};
    buffer_.resize(bytes.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converters_->lenient.get());
    const int32_t length = ucnv_toUChars(converters_->lenient.get(), buffer_.data(),
                                         static_cast<int32_t>(buffer_.size()), bytes.data(),
                                         static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("CP932 text could not be converted");
    return Utf16ToUtf8(std::u16string_view(buffer_.data(), static_cast<std::size_t>(length)));
}

}  // namespace melodrift
