#include "text/CodePage.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <memory>
#include <stdexcept>

namespace melodrift {

namespace {

// ICU's "windows-31j" is Microsoft's CP932 table exactly (NEC and IBM
// extensions, the Windows mappings of the wave dash and friends).
constexpr const char* kCp932 = "windows-31j";

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// One converter per call: ICU converters keep state and are not thread-safe,
// and opening one from the cached table costs microseconds.
ConverterPtr OpenCp932(bool substituteQuestionMark) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(kCp932, &status));
    if (U_FAILURE(status) || !converter) throw std::runtime_error("ICU has no windows-31j converter");
    if (substituteQuestionMark) {
        status = U_ZERO_ERROR;
        ucnv_setSubstChars(converter.get(), "?", 1, &status);
    }
    return converter;
}

}  // namespace

std::u16string Cp932ToUtf16(std::string_view cp932) {
    if (cp932.empty()) return {};
    ConverterPtr converter = OpenCp932(false);
    std::u16string out(cp932.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                                         cp932.data(), static_cast<int32_t>(cp932.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("CP932 text could not be converted");
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string Utf16ToCp932(std::u16string_view utf16) {
    if (utf16.empty()) return {};
    ConverterPtr converter = OpenCp932(true);
    std::string out(utf16.size() * 2 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                                           utf16.data(), static_cast<int32_t>(utf16.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("text could not be converted to CP932");
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    icu::UnicodeString(false, utf16.data(), static_cast<int32_t>(utf16.size())).toUTF8String(out);
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

std::string Cp932ToUtf8(std::string_view cp932) { return Utf16ToUtf8(Cp932ToUtf16(cp932)); }

std::string Utf8ToCp932(std::string_view utf8) { return Utf16ToCp932(Utf8ToUtf16(utf8)); }

}  // namespace melodrift
