// Small text routines that every parser shares: field splitting, number
// reading with and without a fallback, the linear blend and the key sort.
// Text is UTF-8 (files are decoded as they are read, see text/Encoding.h).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace melodrift {

// A number in a file (or typed by the user) that does not read as a number.
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Cuts `text` at every byte that occurs in `delimiters`. Every piece between
// two cuts is an item, empty pieces included ("a,,b" → a, "", b; "a," → a, "").
// An empty text or an empty delimiter set gives no items. Delimiters are ASCII
// bytes, which in UTF-8 are always characters of their own, so cutting bytes
// never splits a multi-byte character.
void SplitText(std::string_view text, std::string_view delimiters, std::vector<std::string>& list);
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiters);

// A value for a message that may reach a terminal: control characters (bytes
// 0x00–0x1F and 0x7F, and the UTF-8 forms of U+0080–U+009F) are written as
// "\xNN" ("\x1b[31m" stays readable and colours nothing); every other byte
// stays. Applying it twice changes nothing more.
std::string EscapeControlCharacters(std::string_view text);

// Blanks and control characters (bytes ≤ 0x20) trimmed from both ends.
std::string_view TrimBlanks(std::string_view text);

// Whether every byte is below 0x80 (the same text in every encoding we read).
bool IsAscii(std::string_view bytes);

// True when the trimmed text reads: [+-] digits [. digits] [(E|e) [+-] digits],
// with the digits on either side of the point allowed to be missing.
bool LooksLikeFloat(std::string_view trimmed);

// The trimmed text's value, "." as separator, or `fallback` when it does not
// look like a number. A text that passes the check without any digit (".",
// "-.") throws ConversionError.
double ParseFloatOr(std::string_view text, double fallback);

// Strict readers: the trimmed text must be a number, else ConversionError.
double ParseDouble(std::string_view text);
// [+-] decimal digits (or "$" + hex digits), within 32 bits.
std::int32_t ParseInt32(std::string_view text);
std::int64_t ParseInt64(std::string_view text);

// from + (to − from) × fraction.
constexpr double Blend(double from, double to, double fraction) {
    return from + (to - from) * fraction;
}

struct KeyedValue {
    double Key = 0.0;
    std::int32_t Index = 0;
};
using KeyedValues = std::vector<KeyedValue>;

// Ascending by key: an iterative median-of-three quicksort that leaves ranges
// of at most 11 pairs, then one insertion sort over the whole array. The order
// of equal keys is the one these steps give (stable only for ≤ 11 pairs).
void SortByKey(KeyedValues& pairs);

}  // namespace melodrift
