// Character-level helpers for CP932 text, and the hiragana ⇄ katakana swap of
// lyrics.
//
// CP932 characters are one byte (ASCII, half-width katakana 0xA1..0xDF) or two
// bytes: a lead byte 0x81..0x9F or 0xE0..0xFC followed by a trail byte, which
// may be an ASCII value such as 0x5C ("\"). A lead byte at the very end of a
// text (a broken character) counts as one character of one byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

constexpr bool IsCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Byte length of the character that starts at `pos` (1 or 2; 0 at the end).
std::size_t Cp932CharLength(std::string_view text, std::size_t pos);

// The text cut into its characters, in order.
std::vector<std::string_view> Cp932Chars(std::string_view text);

// True when `pos` is the first byte of a character (or the end of the text).
bool IsCp932CharBoundary(std::string_view text, std::size_t pos);

// True when `text` ends with `suffix` and the suffix starts on a character
// boundary (so "\" does not match the trail byte of ソ).
bool Cp932EndsWith(std::string_view text, std::string_view suffix);

// Full-width hiragana ぁ..ん and ゝゞ become katakana ァ..ン and ヽヾ; every
// other character passes unchanged. Matches the Japanese locale's kana mapping
// of Windows for every kana that CP932 holds.
std::string HiraganaToKatakana(std::string_view cp932);

// Full-width katakana ァ..ン and ヽヾ become hiragana ぁ..ん and ゝゞ. ヴ, ヵ
// and ヶ have no hiragana in CP932 and pass unchanged, as do all other
// characters (half-width katakana included).
std::string KatakanaToHiragana(std::string_view cp932);

// True when the character is a full-width hiragana ぁ..ん (CP932 0x829F..0x82F1).
bool IsCp932Hiragana(std::string_view character);

}  // namespace melodrift
