// Conversion between the host's ANSI code page (CP932, Shift-JIS as Windows
// writes it) and Unicode: the plain conversions under text/Encoding.h, and
// the path helpers of system/Files.h.
//
// Two implementations behind this header: CodePage.cpp with ICU (Linux,
// macOS) and CodePageWindows.cpp with Windows' own code page 932
// (MultiByteToWideChar, WideCharToMultiByte, NormalizeString), the table UTAU
// itself converts with on Windows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace melodrift {

// Bytes that are not valid CP932 become U+FFFD; nothing throws.
std::string Cp932ToUtf8(std::string_view cp932);
std::u16string Cp932ToUtf16(std::string_view cp932);

// Characters that CP932 cannot hold become "?" (0x3F), as Windows' own
// conversion does for the ANSI code page.
std::string Utf8ToCp932(std::string_view utf8);
std::string Utf16ToCp932(std::u16string_view utf16);

// Broken sequences (a lone surrogate, an invalid UTF-8 byte) become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
std::u16string Utf8ToUtf16(std::string_view utf8);

// The exact conversions: nothing when a byte sequence is not a character of
// CP932, or a character has no CP932 form (no best fit, no substitute).
std::optional<std::u16string> Cp932ToUtf16Exact(std::string_view cp932);
std::optional<std::string> Utf16ToCp932Exact(std::u16string_view utf16);

// The name in a form that is equal for names differing only in case or in
// Unicode normalisation: NFC, then full case folding (UTF-8). On Windows,
// NFC and then the invariant locale's upper-case mapping, as its file systems
// compare names (there "ß" and "ss" stay different, as they are on disk).
std::string FoldedFileName(std::string_view utf8);

}  // namespace melodrift
