// Temporary folders and Shift-JIS fixture files for the voicebank tests.
#pragma once

#include "text/CodePage.h"
#include "text/Files.h"

#include <gtest/gtest.h>

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

class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Unique per run, so builds that test at the same time never share a folder.
        std::string name = std::string("melodrift-voicebank-") + std::to_string(std::random_device{}()) + "-" +
                           info->test_suite_name() + "-" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = fs::temp_directory_path() / name;
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return path_; }
    // The folder as a host file names it (CP932 bytes).
    std::string Cp932() const { return PathToCp932(path_); }

private:
    fs::path path_;
};

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
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
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
