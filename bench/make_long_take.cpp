// Writes a voice-like take for the speed comparisons of bench/compare-praat.sh:
// syllables of 0.45 s every 0.7 s sung on a pitch gliding between 120 and
// 360 Hz (period 3.7 s), six harmonics at 1/h, a 40 ms noise burst (a
// consonant) at each onset, and low background noise throughout.
// 44100 Hz, 16-bit mono. Deterministic (fixed seed).
//
// Usage: make_long_take SECONDS OUTPUT.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SECONDS OUTPUT.wav\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    if (!(seconds > 0.0) || seconds > 3600.0) {
        std::fprintf(stderr, "%s: SECONDS must be in (0, 3600]\n", argv[0]);
        return 2;
    }
    constexpr double rate = 44100.0;
    const auto count = static_cast<std::uint32_t>(seconds * rate);
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::string out = "RIFF";
    PutLe(out, count * 2 + 36, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);
    PutLe(out, 1, 2);
    PutLe(out, 44100, 4);
    PutLe(out, 88200, 4);
    PutLe(out, 2, 2);
    PutLe(out, 16, 2);
    out += "data";
    PutLe(out, count * 2, 4);
    out.reserve(out.size() + std::size_t{count} * 2);
    double phase = 0.0;  // [rad] of the fundamental
    for (std::uint32_t i = 0; i < count; ++i) {
        const double t = i / rate;
        const double f0Hz = 240.0 + 120.0 * std::sin(2.0 * std::numbers::pi * t / 3.7);
        phase += 2.0 * std::numbers::pi * f0Hz / rate;
        const double inSyllable = std::fmod(t, 0.7);  // [s] since the syllable's onset
        double v = 130.0 * gauss(random);             // background noise
        if (inSyllable < 0.45) {
            double tone = 0.0;
            for (int h = 1; h <= 6; ++h) tone += std::sin(h * phase) / h;
            // 30 ms attack, 50 ms release.
            const double envelope = std::min({1.0, inSyllable / 0.03, (0.45 - inSyllable) / 0.05});
            v += 7000.0 * envelope * tone;
            if (inSyllable < 0.04) v += 2600.0 * gauss(random);
        }
        const auto sample =
            static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
        PutLe(out, static_cast<std::uint16_t>(sample), 2);
    }
    std::ofstream file(argv[2], std::ios::binary);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    if (!file) {
        std::fprintf(stderr, "%s: could not write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
