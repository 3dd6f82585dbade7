// The number formats of the host's plug-in file. Every format uses "." as the
// decimal separator, whatever the user's locale.
#pragma once

#include <cstdint>
#include <string>

namespace melodrift {

// "General": the shortest decimal form with up to 15 significant digits, no
// trailing zeros, and an exponent ("1E-6", "1.5E15") only when the magnitude is
// 10^15 or more or below 0.00001. 480 → "480", 62.5 → "62.5", 0 → "0".
// Infinities and NaN have no form in the file: they throw std::domain_error.
std::string FormatGeneral(double value);

// Plain decimal with a leading "-" when negative.
std::string FormatInteger(std::int64_t value);

// Fixed point with `decimals` digits ("%.0f", "%.1f"), rounded to the nearest
// value of the exact binary number, ties away from zero (0.5 → "1", −2.5 → "-3").
std::string FormatFixed(double value, int decimals);

// The integer part, truncated toward zero, of x + 0.5: the rounding that the
// files use ("rounded"). −10.7 → −10, 2.5 → 3, −2.5 → −2.
std::int64_t RoundHalfUpTrunc(double x);

// The largest integer not above x + 0.5 ("halfup"). −10.7 → −11, −2.5 → −2.
std::int64_t HalfUp(double x);

}  // namespace melodrift
