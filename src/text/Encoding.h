// The encodings of the files Melodrift reads and writes. Inside the program
// text is UTF-8; a file's bytes are decoded when it is read and encoded when
// it is written, each file in its own encoding:
//
//   ShiftJis     Microsoft's code page 932 (Shift-JIS with the NEC and IBM
//                extensions), what UTAU writes and reads
//   Utf8         UTF-8 without a byte order mark
//   Utf8WithBom  UTF-8 after the mark EF BB BF
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace melodrift {

enum class TextEncoding { ShiftJis, Utf8, Utf8WithBom };

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A character that the target encoding cannot hold. `Character()` is the
// UTF-8 form of the first one.
class UnencodableText : public std::runtime_error {
  public:
    UnencodableText(std::string character, const std::string& message)
        : std::runtime_error(message), character_(std::move(character)) {}
    const std::string& Character() const { return character_; }

  private:
    std::string character_;
};

// Whether every byte sequence of `bytes` is a character of that encoding
// (CP932: every lead byte has a mapped trail byte; UTF-8: shortest forms, no
// surrogates).
bool IsValidShiftJis(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);

// The text of `bytes` as UTF-8. A mark at the start is dropped (also for
// ShiftJis, where it cannot be a character). Bytes that are not a character
// of the encoding become U+FFFD.
std::string DecodeText(std::string_view bytes, TextEncoding encoding);

// The UTF-8 text as CP932 bytes, with the best-fit mappings of Windows for
// characters that CP932 holds only in another form: 〜 U+301C → 0x8160,
// − U+2212 → 0x817C, ‖ U+2016 → 0x8161, — U+2014 → 0x815C, ¢ U+00A2 →
// 0x8191, £ U+00A3 → 0x8192, ¬ U+00AC → 0x81CA. Nothing when another
// character has no CP932 form; `refused` then receives it (UTF-8).
std::optional<std::string> EncodeShiftJis(std::string_view utf8, std::string* refused = nullptr);

// The UTF-8 text in `encoding` (Utf8WithBom puts the mark first). Throws
// UnencodableText, naming the character, when ShiftJis cannot hold one.
std::string EncodeText(std::string_view utf8, TextEncoding encoding);

// The text with each best-fit character replaced by the look-alike CP932
// reads back as (〜 → ～ U+FF5E, − → － U+FF0D, …): what a lyric becomes
// once it has passed through a Shift-JIS file.
std::string ShiftJisLookAlike(std::string_view utf8);

// True when the text comes back unchanged from CP932 (no best fit needed).
bool ShiftJisHoldsExactly(std::string_view utf8);

// Encoding names as files declare them ("#Charset:", character.yaml):
// "utf-8"/"utf8" → Utf8, "shift_jis"/"shift-jis"/"sjis"/"cp932"/
// "windows-31j" → ShiftJis, case-insensitive; anything else nothing.
std::optional<TextEncoding> EncodingFromName(std::string_view name);

// Japanese message of a refused character: which one and why.
std::string UnencodableMessage(std::string_view characterUtf8);

}  // namespace melodrift
