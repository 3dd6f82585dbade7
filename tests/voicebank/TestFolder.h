// Temporary folders and Shift-JIS fixture files for the voicebank tests.
#pragma once

#include "system/Files.h"
#include "text/CodePage.h"

#include <gtest/gtest.h>

#include "TempFolder.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace melodrift::testing {

namespace fs = std::filesystem;

// UTF-8 test text as the CP932 bytes a host file holds.
inline std::string Sjis(std::string_view utf8) { return Utf8ToCp932(utf8); }

inline void WriteBytes(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << file;
}

// Every file below `root` with its bytes; what a load must leave unchanged.
inline std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(
             root, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (it->is_symlink(typeError)) {
            files[it->path().string()] = "link";
            if (it->is_directory(typeError)) it.disable_recursion_pending();
        } else if (it->is_regular_file(typeError)) {
            try {
                files[it->path().string()] = ReadFileBytes(it->path());
            } catch (const std::exception&) {
                files[it->path().string()] = "unreadable";
            }
        } else {
            files[it->path().string()] = "other";
        }
    }
    return files;
}

}  // namespace melodrift::testing
