// Character-level helpers for UTF-8 text, and the hiragana ⇄ katakana swap of
// lyrics.
//
// A character is one code point: one to four bytes, the first telling the
// length. A byte that cannot start a character, and a sequence cut short at
// the end of the text, count as characters of one byte, so broken text is
// never read past its end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

// Byte length of the character that starts at `pos` (1..4; 0 at the end).
std::size_t Utf8CharLength(std::string_view text, std::size_t pos);

// The text cut into its characters, in order.
std::vector<std::string_view> Utf8Chars(std::string_view text);

// Full-width hiragana ぁ..ん (U+3041..U+3093) and ゝゞ become katakana ァ..ン
// (U+30A1..U+30F3) and ヽヾ; every other character passes unchanged.
std::string HiraganaToKatakana(std::string_view utf8);

// Full-width katakana ァ..ン and ヽヾ become hiragana ぁ..ん and ゝゞ. ヴ, ヵ
// and ヶ pass unchanged (Shift-JIS, the hosts' encoding, has no hiragana for
// them), as do all other characters (half-width katakana included).
std::string KatakanaToHiragana(std::string_view utf8);

// True when the character is a full-width hiragana ぁ..ん (U+3041..U+3093).
bool IsHiragana(std::string_view character);

// Bytes the text takes in Shift-JIS: one for ASCII and half-width katakana
// (U+FF61..U+FF9F), two for every other character. Lyric length limits of
// the hosts count these.
std::size_t ShiftJisWidth(std::string_view utf8);

}  // namespace melodrift
