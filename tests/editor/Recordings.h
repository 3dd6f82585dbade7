// Test fixtures of the editor tests: recordings generated in code and written
// as WAV files, a scratch folder, and prompts with scripted answers.
#pragma once

#include "system/Prompts.h"

#include <gtest/gtest.h>

#include "ScriptedPrompts.h"
#include "TempFolder.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace melodrift::testing {

// A harmonic tone: harmonics 1..5 of f0Hz with amplitudes 1, 1/2, .. 1/5,
// scaled so that the sum peaks near `peak`.
inline std::vector<std::int16_t> HarmonicTone(double f0Hz, std::size_t sampleCount,
                                              double peak = 12000.0, int sampleRate = 44100) {
    std::vector<std::int16_t> samples(sampleCount);
    for (std::size_t i = 0; i < sampleCount; ++i) {
        double v = 0.0;
        for (int h = 1; h <= 5; ++h)
            v += std::sin(2.0 * std::numbers::pi * f0Hz * h * i / sampleRate) / h;
        samples[i] = static_cast<std::int16_t>(std::lround(v / 2.3 * peak));
    }
    return samples;
}

inline void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A RIFF WAVE image of interleaved 16-bit samples (or 8-bit when bits is 8:
// the samples' high bytes, offset to unsigned).
inline std::string WavBytes(const std::vector<std::int16_t>& interleaved, int channels = 1,
                            int sampleRate = 44100, int bits = 16) {
    const int bytesPerSample = bits / 8;
    const std::uint32_t dataSize = static_cast<std::uint32_t>(interleaved.size() * bytesPerSample);
    std::string out = "RIFF";
    PutLe(out, dataSize + 36, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);
    PutLe(out, channels, 2);
    PutLe(out, sampleRate, 4);
    PutLe(out, sampleRate * channels * bytesPerSample, 4);
    PutLe(out, channels * bytesPerSample, 2);
    PutLe(out, bits, 2);
    out += "data";
    PutLe(out, dataSize, 4);
    for (std::int16_t s : interleaved) {
        if (bits == 8) {
            out.push_back(static_cast<char>((s + 32768) >> 8));
        } else {
            PutLe(out, static_cast<std::uint16_t>(s), 2);
        }
    }
    return out;
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace melodrift::testing
