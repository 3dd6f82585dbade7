#include "text/NumberFormat.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace melodrift {

namespace {

void RequireFinite(double value) {
    if (!std::isfinite(value))
        throw std::domain_error("a number that is not finite cannot be written");
}

}  // namespace

std::string FormatGeneral(double value) {
    RequireFinite(value);
    if (value == 0.0) return "0";
    // 15 significant digits: "d.dddddddddddddde±xx".
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    std::string text(buffer);
    const bool negative = text[0] == '-';
    if (negative) text.erase(0, 1);
    const std::size_t ePos = text.find('e');
    const int exponent = std::stoi(text.substr(ePos + 1));
    std::string digits = text.substr(0, 1) + text.substr(2, ePos - 2);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= 15 || exponent < -5) {
        out += digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        return out;
    }
    const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
        out += digits + std::string(intDigits - digits.size(), '0');
    } else {
        out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
    return out;
}

std::string FormatInteger(std::int64_t value) { return std::to_string(value); }

std::string FormatFixed(double value, int decimals) {
    RequireFinite(value);
    // The exact decimal expansion of the double (glibc and the other C
    // libraries we build with print it exactly), rounded by hand so that
    // exact ties go away from zero instead of to even.
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals + 30, std::fabs(value));
    std::string text(buffer);
    const std::size_t point = text.find('.');
    std::string kept =
        text.substr(0, point) + text.substr(point + 1, static_cast<std::size_t>(decimals));
    const char next = text[point + 1 + static_cast<std::size_t>(decimals)];
    if (next >= '5') {
        int k = static_cast<int>(kept.size()) - 1;
        while (k >= 0 && kept[static_cast<std::size_t>(k)] == '9') {
            kept[static_cast<std::size_t>(k)] = '0';
            --k;
        }
        if (k < 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[static_cast<std::size_t>(k)];
    }
    std::string out;
    const std::size_t intDigits = kept.size() - static_cast<std::size_t>(decimals);
    out = kept.substr(0, intDigits);
    if (decimals > 0) out += "." + kept.substr(intDigits);
    const bool allZero = out.find_first_not_of("0.") == std::string::npos;
    if (value < 0 && !allZero) out.insert(out.begin(), '-');
    return out;
}

std::int64_t RoundHalfUpTrunc(double x) { return static_cast<std::int64_t>(std::trunc(x + 0.5)); }

std::int64_t HalfUp(double x) { return static_cast<std::int64_t>(std::floor(x + 0.5)); }

}  // namespace melodrift
