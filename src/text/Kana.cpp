#include "text/Kana.h"

namespace melodrift {

namespace {

// Kana rows of Unicode: each katakana lies 0x60 code points after its hiragana.
constexpr char32_t kFirstHiragana = 0x3041;  // ぁ
constexpr char32_t kLastHiragana = 0x3093;   // ん
constexpr char32_t kHiraganaMarks = 0x309D;  // ゝ (ゞ follows)
constexpr char32_t kKatakanaOffset = 0x60;
constexpr char32_t kFirstHalfWidthKatakana = 0xFF61;
constexpr char32_t kLastHalfWidthKatakana = 0xFF9F;

unsigned char Byte(std::string_view text, std::size_t pos) {
    return static_cast<unsigned char>(text[pos]);
}

// The code point of a well-formed character, or 0 for a broken one.
char32_t CodePoint(std::string_view character) {
    const std::size_t length = character.size();
    if (length == 1) return Byte(character, 0) < 0x80 ? Byte(character, 0) : 0;
    char32_t value = Byte(character, 0) & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (Byte(character, i) & 0x3F);
    return value;
}

std::string Encode(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

template <typename Map>
std::string MapCharacters(std::string_view text, Map map) {
    std::string out;
    out.reserve(text.size());
    for (std::string_view character : Utf8Chars(text)) {
        const char32_t from = CodePoint(character);
        const char32_t to = map(from);
        if (to != from)
            out += Encode(to);
        else
            out += character;
    }
    return out;
}

}  // namespace

std::size_t Utf8CharLength(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return 0;
    const unsigned char lead = Byte(text, pos);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (pos + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((Byte(text, pos + i) & 0xC0) != 0x80) return 1;
    return length;
}

std::vector<std::string_view> Utf8Chars(std::string_view text) {
    std::vector<std::string_view> chars;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Utf8CharLength(text, pos);
        chars.push_back(text.substr(pos, length));
        pos += length;
    }
    return chars;
}

bool IsHiragana(std::string_view character) {
    if (Utf8CharLength(character, 0) != character.size()) return false;
    const char32_t c = CodePoint(character);
    return c >= kFirstHiragana && c <= kLastHiragana;
}

std::string HiraganaToKatakana(std::string_view utf8) {
    return MapCharacters(utf8, [](char32_t c) -> char32_t {
        if ((c >= kFirstHiragana && c <= kLastHiragana) || c == kHiraganaMarks ||
            c == kHiraganaMarks + 1)
            return c + kKatakanaOffset;
        return c;
    });
}

std::string KatakanaToHiragana(std::string_view utf8) {
    return MapCharacters(utf8, [](char32_t c) -> char32_t {
        if ((c >= kFirstHiragana + kKatakanaOffset && c <= kLastHiragana + kKatakanaOffset) ||
            c == kHiraganaMarks + kKatakanaOffset || c == kHiraganaMarks + 1 + kKatakanaOffset)
            return c - kKatakanaOffset;
        return c;
    });
}

std::size_t ShiftJisWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (std::string_view character : Utf8Chars(utf8)) {
        const char32_t c = CodePoint(character);
        const bool single = (character.size() == 1 && c < 0x80) ||
                            (c >= kFirstHalfWidthKatakana && c <= kLastHalfWidthKatakana);
        width += single ? 1 : 2;
    }
    return width;
}

}  // namespace melodrift
