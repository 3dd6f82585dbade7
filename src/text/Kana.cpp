#include "text/Kana.h"

namespace melodrift {

namespace {

constexpr unsigned char kKanaLead = 0x82;           // hiragana row
constexpr unsigned char kKatakanaLead = 0x83;       // katakana row
constexpr unsigned char kFirstHiraganaTrail = 0x9F;  // ぁ
constexpr unsigned char kLastHiraganaTrail = 0xF1;   // ん
constexpr unsigned char kFirstKatakanaTrail = 0x40;  // ァ
constexpr unsigned char kLastKatakanaTrail = 0x93;   // ン
constexpr unsigned char kKatakanaGap = 0x7F;         // no character between ミ and ム
// Iteration marks in row 0x81: ヽ ヾ ゝ ゞ.
constexpr unsigned char kMarkLead = 0x81;
constexpr unsigned char kKatakanaMark = 0x52;
constexpr unsigned char kHiraganaMark = 0x54;

unsigned char Byte(std::string_view text, std::size_t pos) { return static_cast<unsigned char>(text[pos]); }

// Hiragana trail byte → katakana trail byte: both rows list the same 83 kana
// in the same order; the katakana row skips 0x7F.
unsigned char HiraganaTrailToKatakana(unsigned char trail) {
    const int index = trail - kFirstHiraganaTrail;
    int katakana = kFirstKatakanaTrail + index;
    if (katakana >= kKatakanaGap) ++katakana;
    return static_cast<unsigned char>(katakana);
}

unsigned char KatakanaTrailToHiragana(unsigned char trail) {
    int index = trail - kFirstKatakanaTrail;
    if (trail > kKatakanaGap) --index;
    return static_cast<unsigned char>(kFirstHiraganaTrail + index);
}

}  // namespace

std::size_t Cp932CharLength(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return 0;
    if (IsCp932LeadByte(Byte(text, pos)) && pos + 1 < text.size()) return 2;
    return 1;
}

std::vector<std::string_view> Cp932Chars(std::string_view text) {
    std::vector<std::string_view> chars;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = Cp932CharLength(text, pos);
        chars.push_back(text.substr(pos, length));
        pos += length;
    }
    return chars;
}

bool IsCp932CharBoundary(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return pos == text.size();
    std::size_t at = 0;
    while (at < pos) at += Cp932CharLength(text, at);
    return at == pos;
}

bool Cp932EndsWith(std::string_view text, std::string_view suffix) {
    if (suffix.size() > text.size() || !text.ends_with(suffix)) return false;
    return IsCp932CharBoundary(text, text.size() - suffix.size());
}

bool IsCp932Hiragana(std::string_view character) {
    return character.size() == 2 && Byte(character, 0) == kKanaLead && Byte(character, 1) >= kFirstHiraganaTrail &&
           Byte(character, 1) <= kLastHiraganaTrail;
}

std::string HiraganaToKatakana(std::string_view cp932) {
    std::string out(cp932);
    for (std::size_t pos = 0; pos < out.size();) {
        const std::size_t length = Cp932CharLength(out, pos);
        if (length == 2) {
            const unsigned char lead = Byte(out, pos);
            const unsigned char trail = Byte(out, pos + 1);
            if (lead == kKanaLead && trail >= kFirstHiraganaTrail && trail <= kLastHiraganaTrail) {
                out[pos] = static_cast<char>(kKatakanaLead);
                out[pos + 1] = static_cast<char>(HiraganaTrailToKatakana(trail));
            } else if (lead == kMarkLead && (trail == kHiraganaMark || trail == kHiraganaMark + 1)) {
                out[pos + 1] = static_cast<char>(trail - (kHiraganaMark - kKatakanaMark));
            }
        }
        pos += length;
    }
    return out;
}

std::string KatakanaToHiragana(std::string_view cp932) {
    std::string out(cp932);
    for (std::size_t pos = 0; pos < out.size();) {
        const std::size_t length = Cp932CharLength(out, pos);
        if (length == 2) {
            const unsigned char lead = Byte(out, pos);
            const unsigned char trail = Byte(out, pos + 1);
            if (lead == kKatakanaLead && trail >= kFirstKatakanaTrail && trail <= kLastKatakanaTrail &&
                trail != kKatakanaGap) {
                out[pos] = static_cast<char>(kKanaLead);
                out[pos + 1] = static_cast<char>(KatakanaTrailToHiragana(trail));
            } else if (lead == kMarkLead && (trail == kKatakanaMark || trail == kKatakanaMark + 1)) {
                out[pos + 1] = static_cast<char>(trail + (kHiraganaMark - kKatakanaMark));
            }
        }
        pos += length;
    }
    return out;
}

}  // namespace melodrift
