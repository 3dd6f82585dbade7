// Conversion between the host's ANSI code page (CP932, Shift-JIS as Windows
// writes it) and Unicode: the plain conversions under text/Encoding.h, and
// the path helpers of text/Files.h.
#pragma once

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

std::string Utf16ToUtf8(std::u16string_view utf16);
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace melodrift
