// Shared pieces of the fuzz targets: a scratch folder of the fuzzing process
// (on a memory file system where there is one) and whole-file writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define MELODRIFT_FUZZ_PID _getpid()
#else
#include <unistd.h>
#define MELODRIFT_FUZZ_PID ::getpid()
#endif

namespace melodrift::fuzz {

// One folder per fuzzing process, removed at exit or by a later run. /dev/shm
// keeps the many small writes off the disk.
inline const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path folder = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
        // libFuzzer ends a timed run without running exit handlers: remove
        // the folders of earlier runs whose process is gone (Linux: /proc).
        for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
            const std::string name = entry.path().filename().string();
            if (!name.starts_with("melodrift-fuzz-")) continue;
            if (std::filesystem::is_directory("/proc/self", ec) &&
                !std::filesystem::exists(std::filesystem::path("/proc") / name.substr(15), ec))
                std::filesystem::remove_all(entry.path(), ec);
        }
        std::filesystem::path made =
            base / ("melodrift-fuzz-" + std::to_string(MELODRIFT_FUZZ_PID));
        std::filesystem::create_directories(made);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchFolder(), ignored);
        });
        return made;
    }();
    return folder;
}

inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A short 16-bit mono 44100 Hz WAVE image: `frameCount` frames of a 220 Hz
// square wave, enough for the analysis to find frames.
inline std::string SquareWaveWav(std::uint32_t frameCount) {
    auto put = [](std::string& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    std::string out = "RIFF";
    put(out, frameCount * 2 + 36, 4);
    out += "WAVEfmt ";
    put(out, 16, 4);
    put(out, 1, 2);
    put(out, 1, 2);
    put(out, 44100, 4);
    put(out, 88200, 4);
    put(out, 2, 2);
    put(out, 16, 2);
    out += "data";
    put(out, frameCount * 2, 4);
    for (std::uint32_t i = 0; i < frameCount; ++i)
        put(out, static_cast<std::uint16_t>((i / 100) % 2 ? 8000 : -8000), 2);
    return out;
}

}  // namespace melodrift::fuzz
