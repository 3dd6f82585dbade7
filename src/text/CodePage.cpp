// The Unicode helpers with ICU: the code page conversions of CodePage.h,
// the UTF-8 check of Encoding.h, the kept-open converter of
// ShiftJisConverter.h and the file-name folding. Windows
// builds use CodePageWindows.cpp instead.
#include "text/CodePage.h"

#include "text/Encoding.h"
#include "text/ShiftJisConverter.h"

#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace melodrift {

namespace {

// ICU's "windows-31j" is Microsoft's CP932 table (NEC and IBM extensions,
// the Windows mappings of the wave dash and friends) but for three control
// codes, put right below (FromIcuControl).
constexpr const char* kCp932 = "windows-31j";

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Decoding: every byte sequence that is no character becomes U+FFFD. ICU's
// own substitute would give U+001A (the code page's one-byte substitute, a
// control character) for an illegal sequence such as a lead byte without
// its trail byte.
void ReplaceByFffd(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                   UConverterCallbackReason reason, UErrorCode* status) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
    static const UChar kReplacement = 0xFFFD;
    *status = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, status);
}

// One converter per call: ICU converters keep state and are not thread-safe,
// and opening one from the cached table costs microseconds.
ConverterPtr OpenCp932(bool substituteQuestionMark) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(kCp932, &status));
    if (U_FAILURE(status) || !converter)
        throw std::runtime_error("ICU has no windows-31j converter");
    ucnv_setToUCallBack(converter.get(), ReplaceByFffd, nullptr, nullptr, nullptr, &status);
    if (substituteQuestionMark) {
        status = U_ZERO_ERROR;
        ucnv_setSubstChars(converter.get(), "?", 1, &status);
    }
    return converter;
}

// A converter that stops at the first byte or character it cannot convert.
ConverterPtr OpenStrictCp932() {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(kCp932, &status));
    if (U_FAILURE(status) || !converter)
        throw std::runtime_error("ICU has no windows-31j converter");
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
    return converter;
}

// ICU's "windows-31j" is IBM's table (ibm-943) in three control codes: it
// reads 0x1A as U+001C, 0x1C as U+007F and 0x7F as U+001A, and writes them
// back the same way. Microsoft's code page 932, the hosts' own, maps every
// byte below 0x80 to the same code point (0x1A is the end-of-file mark of
// old DOS text files). None of the three is a trail byte, so these units come
// only from those single bytes: they are put right after decoding and
// swapped into ICU's form before encoding.
char16_t FromIcuControl(char16_t unit) {
    switch (unit) {
        case 0x1C:
            return 0x1A;
        case 0x7F:
            return 0x1C;
        case 0x1A:
            return 0x7F;
        default:
            return unit;
    }
}

char16_t ToIcuControl(char16_t unit) {
    switch (unit) {
        case 0x1A:
            return 0x1C;
        case 0x1C:
            return 0x7F;
        case 0x7F:
            return 0x1A;
        default:
            return unit;
    }
}

bool IsSwappedControl(char16_t unit) { return unit == 0x1A || unit == 0x1C || unit == 0x7F; }

void FixDecodedControls(char16_t* begin, char16_t* end) {
    for (char16_t* unit = begin; unit != end; ++unit) *unit = FromIcuControl(*unit);
}

// The text as ICU is to encode it: `utf16` itself, or a copy in `copy`
// when it holds one of the three controls.
std::u16string_view ForIcuEncoding(std::u16string_view utf16, std::u16string& copy) {
    if (std::none_of(utf16.begin(), utf16.end(), IsSwappedControl)) return utf16;
    copy.assign(utf16.begin(), utf16.end());
    for (char16_t& unit : copy) unit = ToIcuControl(unit);
    return copy;
}

}  // namespace

std::u16string Cp932ToUtf16(std::string_view cp932) {
    if (cp932.empty()) return {};
    ConverterPtr converter = OpenCp932(false);
    std::u16string out(cp932.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), cp932.data(),
                      static_cast<int32_t>(cp932.size()), &status);
    if (U_FAILURE(status)) throw std::runtime_error("CP932 text could not be converted");
    out.resize(static_cast<std::size_t>(length));
    FixDecodedControls(out.data(), out.data() + out.size());
    return out;
}

std::string Utf16ToCp932(std::u16string_view text) {
    if (text.empty()) return {};
    std::u16string copy;
    const std::u16string_view utf16 = ForIcuEncoding(text, copy);
    ConverterPtr converter = OpenCp932(true);
    std::string out(utf16.size() * 2 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), utf16.data(),
                        static_cast<int32_t>(utf16.size()), &status);
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

std::optional<std::u16string> Cp932ToUtf16Exact(std::string_view cp932) {
    if (cp932.empty()) return std::u16string();
    ConverterPtr converter = OpenStrictCp932();
    std::u16string out(cp932.size() + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), cp932.data(),
                      static_cast<int32_t>(cp932.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    FixDecodedControls(out.data(), out.data() + out.size());
    return out;
}

std::optional<std::string> Utf16ToCp932Exact(std::u16string_view text) {
    if (text.empty()) return std::string();
    std::u16string copy;
    const std::u16string_view utf16 = ForIcuEncoding(text, copy);
    ConverterPtr converter = OpenStrictCp932();
    std::string out(utf16.size() * 2 + 1, '\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length =
        ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), utf16.data(),
                        static_cast<int32_t>(utf16.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
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

std::string ComposedFileName(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || nfc == nullptr) return std::string(utf8);
    const icu::UnicodeString composed = nfc->normalize(text, status);
    if (U_FAILURE(status)) return std::string(utf8);
    std::string out;
    composed.toUTF8String(out);
    return out;
}

std::string FoldedFileName(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status) && nfc != nullptr) {
        icu::UnicodeString composed = nfc->normalize(text, status);
        if (U_SUCCESS(status)) text = composed;
    }
    text.foldCase();
    std::string out;
    text.toUTF8String(out);
    return out;
}

struct ShiftJisConverter::Converters {
    ConverterPtr strict = OpenStrictCp932();
    ConverterPtr lenient = OpenCp932(false);
};

ShiftJisConverter::ShiftJisConverter() : converters_(std::make_unique<Converters>()) {}
ShiftJisConverter::~ShiftJisConverter() = default;

bool ShiftJisConverter::IsValid(std::string_view bytes) {
    if (bytes.empty()) return true;
    buffer_.resize(bytes.size() + 1);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converters_->strict.get());
    ucnv_toUChars(converters_->strict.get(), buffer_.data(), static_cast<int32_t>(buffer_.size()),
                  bytes.data(), static_cast<int32_t>(bytes.size()), &status);
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
    FixDecodedControls(buffer_.data(), buffer_.data() + length);
    return Utf16ToUtf8(std::u16string_view(buffer_.data(), static_cast<std::size_t>(length)));
}

}  // namespace melodrift
