// The Unicode helpers on Windows: the code page conversions of CodePage.h
// with the system's own code page 932 (the table UTAU converts with), the
// UTF-8 check of Encoding.h, ShiftJisConverter.h and the file-name folding of
// FileNames.h with NormalizeString. Other systems use CodePage.cpp (ICU).
//
// Where the system's calls leave a choice open, the results are those of the
// ICU build: a byte sequence that is not a CP932 character becomes one
// U+FFFD (a lead byte with a trail byte in the trail range: both bytes; else
// the one byte), a character CP932 cannot hold becomes one "?" (a surrogate
// pair too), and a broken UTF-8 sequence becomes one U+FFFD per maximal
// subpart (the Unicode standard's recommended practice, as ICU does).
#include "text/CodePage.h"

#include "text/Encoding.h"
#include "text/ShiftJisConverter.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <climits>
#include <stdexcept>

namespace melodrift {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

constexpr UINT kCp932 = 932;
constexpr char16_t kReplacement = u'\uFFFD';
// What code page 932 decodes an unassigned double-byte code to (0x8145 ・).
constexpr char16_t kCp932DefaultUnicode = u'\u30FB';

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

int Length(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

// CP932's double-byte structure: lead bytes 0x81–0x9F and 0xE0–0xFC, trail
// bytes 0x40–0x7E and 0x80–0xFC.
bool IsLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
bool IsTrailByte(unsigned char byte) {
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

// The whole text through MultiByteToWideChar, refusing invalid sequences.
// False also when an unassigned code decoded to the default character, so
// that the caller looks at the characters one by one.
bool DecodeWhole(std::string_view bytes, std::u16string& out) {
    out.clear();
    if (bytes.empty()) return true;
    const int size = Length(bytes.size());
    const int units =
        ::MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (units <= 0) return false;
    out.resize(static_cast<std::size_t>(units));
    if (::MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, bytes.data(), size, Wide(out.data()),
                              units) != units)
        return false;
    return out.find(kCp932DefaultUnicode) == std::u16string::npos;
}

// One character of 1 or 2 bytes; nothing when it is not a CP932 character.
std::optional<char16_t> DecodeOne(std::string_view character) {
    wchar_t unit[2] = {};
    const int units = ::MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, character.data(),
                                            static_cast<int>(character.size()), unit, 2);
    if (units != 1) return std::nullopt;
    // The default character stands for an unassigned code unless the bytes
    // are its own (0x81 0x45).
    if (static_cast<char16_t>(unit[0]) == kCp932DefaultUnicode &&
        character != std::string_view("\x81\x45", 2))
        return std::nullopt;
    return static_cast<char16_t>(unit[0]);
}

// CP932 to UTF-16 character by character; `strict` stops at the first byte
// sequence that is not a character, else it becomes U+FFFD.
bool DecodeEach(std::string_view bytes, std::u16string& out, bool strict) {
    out.clear();
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            out += static_cast<char16_t>(byte);
            ++i;
            continue;
        }
        std::size_t length = 1;
        if (IsLeadByte(byte))
            length = i + 1 < bytes.size() && IsTrailByte(static_cast<unsigned char>(bytes[i + 1]))
                         ? 2
                         : 0;
        const std::optional<char16_t> unit =
            length == 0 ? std::nullopt : DecodeOne(bytes.substr(i, length));
        if (!unit && strict) return false;
        out += unit.value_or(kReplacement);
        i += length == 0 ? 1 : length;
    }
    return true;
}

// UTF-16 to CP932 without best fit; false when a character has no CP932
// form (a lone surrogate neither).
bool EncodeWhole(std::u16string_view text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    const int size = Length(text.size());
    BOOL usedDefault = FALSE;
    const int bytes = ::WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, Wide(text.data()), size,
                                            nullptr, 0, nullptr, &usedDefault);
    if (bytes <= 0 || usedDefault) return false;
    out.resize(static_cast<std::size_t>(bytes));
    usedDefault = FALSE;
    return ::WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, Wide(text.data()), size, out.data(),
                                 bytes, nullptr, &usedDefault) == bytes &&
           !usedDefault;
}

bool IsLeadSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsTrailSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-8 to UTF-16. Each maximal subpart of a broken sequence becomes
// U+FFFD, or with `strict` ends the conversion with false.
bool DecodeUtf8(std::string_view bytes, std::u16string* out, bool strict) {
    if (out != nullptr) {
        out->clear();
        out->reserve(bytes.size());
    }
    const std::size_t size = bytes.size();
    for (std::size_t i = 0; i < size;) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            if (out != nullptr) *out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        // Sequence length and the range of the second byte (the first
        // continuation byte excludes overlong forms, surrogates and code
        // points above U+10FFFF).
        int length = 0;
        char32_t code = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1FU;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0FU;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07U;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        }
        std::size_t next = i + 1;
        int got = 1;
        while (length != 0 && got < length && next < size) {
            const auto byte = static_cast<unsigned char>(bytes[next]);
            if (byte < low || byte > high) break;
            code = (code << 6) | (byte & 0x3FU);
            low = 0x80;
            high = 0xBF;
            ++next;
            ++got;
        }
        if (length == 0 || got < length) {
            if (strict) return false;
            if (out != nullptr) *out += kReplacement;
            i = next;
            continue;
        }
        if (out != nullptr) {
            if (code >= 0x10000) {
                code -= 0x10000;
                *out += static_cast<char16_t>(0xD800 + (code >> 10));
                *out += static_cast<char16_t>(0xDC00 + (code & 0x3FFU));
            } else {
                *out += static_cast<char16_t>(code);
            }
        }
        i = next;
    }
    return true;
}

// LCMapStringEx or NormalizeString into a growing buffer.
template <typename Call>
std::u16string Mapped(Call call, std::u16string_view text) {
    if (text.empty()) return {};
    std::u16string out(text.size() * 2 + 8, u'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int length =
            call(Wide(text.data()), Length(text.size()), Wide(out.data()), Length(out.size()));
        if (length > 0) {
            out.resize(static_cast<std::size_t>(length));
            return out;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        out.resize(out.size() * 2);
    }
    return std::u16string(text);
}

}  // namespace

std::u16string Cp932ToUtf16(std::string_view cp932) {
    std::u16string out;
    if (!DecodeWhole(cp932, out)) DecodeEach(cp932, out, false);
    return out;
}

std::optional<std::u16string> Cp932ToUtf16Exact(std::string_view cp932) {
    std::u16string out;
    if (DecodeWhole(cp932, out) || DecodeEach(cp932, out, true)) return out;
    return std::nullopt;
}

std::string Utf16ToCp932(std::u16string_view utf16) {
    std::string out;
    if (EncodeWhole(utf16, out)) return out;
    // One character (a surrogate pair is one) at a time; "?" for each that
    // has no CP932 form.
    out.clear();
    std::string one;
    for (std::size_t i = 0; i < utf16.size();) {
        const std::size_t units =
            IsLeadSurrogate(utf16[i]) && i + 1 < utf16.size() && IsTrailSurrogate(utf16[i + 1]) ? 2
                                                                                                : 1;
        out += EncodeWhole(utf16.substr(i, units), one) ? one : std::string("?");
        i += units;
    }
    return out;
}

std::optional<std::string> Utf16ToCp932Exact(std::u16string_view utf16) {
    std::string out;
    if (EncodeWhole(utf16, out)) return out;
    return std::nullopt;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 3);
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (IsLeadSurrogate(utf16[i]) && i + 1 < utf16.size() && IsTrailSurrogate(utf16[i + 1])) {
            code =
                0x10000 + ((code - 0xD800) << 10) + (static_cast<char32_t>(utf16[i + 1]) - 0xDC00);
            ++i;
        } else if (IsLeadSurrogate(utf16[i]) || IsTrailSurrogate(utf16[i])) {
            code = kReplacement;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    DecodeUtf8(utf8, &out, false);
    return out;
}

std::string Cp932ToUtf8(std::string_view cp932) { return Utf16ToUtf8(Cp932ToUtf16(cp932)); }

std::string Utf8ToCp932(std::string_view utf8) { return Utf16ToCp932(Utf8ToUtf16(utf8)); }

bool IsValidUtf8(std::string_view bytes) { return DecodeUtf8(bytes, nullptr, true); }

std::string ComposedFileName(std::string_view utf8) {
    return Utf16ToUtf8(Mapped(
        [](const wchar_t* in, int inLength, wchar_t* out, int outLength) {
            return ::NormalizeString(NormalizationC, in, inLength, out, outLength);
        },
        Utf8ToUtf16(utf8)));
}

// NFC, then the upper-case mapping of the invariant locale: how Windows'
// file systems compare names without regard to case.
std::string FoldedFileName(std::string_view utf8) {
    const std::u16string text = Utf8ToUtf16(utf8);
    const std::u16string composed = Mapped(
        [](const wchar_t* in, int inLength, wchar_t* out, int outLength) {
            return ::NormalizeString(NormalizationC, in, inLength, out, outLength);
        },
        text);
    const std::u16string folded = Mapped(
        [](const wchar_t* in, int inLength, wchar_t* out, int outLength) {
            return ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, in, inLength, out,
                                   outLength, nullptr, nullptr, 0);
        },
        composed);
    return Utf16ToUtf8(folded);
}

// Windows' conversions keep no state between calls: nothing to keep open.
struct ShiftJisConverter::Converters {};

ShiftJisConverter::ShiftJisConverter() : converters_(std::make_unique<Converters>()) {}
ShiftJisConverter::~ShiftJisConverter() = default;

bool ShiftJisConverter::IsValid(std::string_view bytes) {
    return DecodeWhole(bytes, buffer_) || DecodeEach(bytes, buffer_, true);
}

std::string ShiftJisConverter::Decode(std::string_view bytes) {
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    if (!DecodeWhole(bytes, buffer_)) DecodeEach(bytes, buffer_, false);
    return Utf16ToUtf8(buffer_);
}

}  // namespace melodrift
