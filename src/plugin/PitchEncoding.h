// The compact text of a note's pitch-history lines ("$OldPitches=",
// "$OldPrePitches="): every value becomes two characters of the Base64
// alphabet holding it modulo 4096 (12-bit two's complement), and a run of r ≥ 2
// equal codes is written once followed by "#" + (r − 1) + "#".
//   0,0,0,5 → "AA#2#AF"    7,7 → "AH#1#"    1,2,1 → "ABACAB"
#pragma once

#include <string>
#include <string_view>

namespace melodrift {

// The Base64 alphabet: 0..25 → "A".."Z", 26..51 → "a".."z", 52..61 → "0".."9",
// 62 → "+", 63 → "/". Only the low six bits of `value` are used.
char SixBitChar(int value);

// `text` is `prefix` followed by a comma-separated list of integers (cents);
// returns `prefix` followed by the encoded list. The whole list is encoded,
// however long. An item that is not a 32-bit integer (an empty one included)
// throws ConversionError.
std::string EncodePitchList(std::string_view text, std::string_view prefix);

}  // namespace melodrift
