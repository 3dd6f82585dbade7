// A fresh folder under the system's temporary folder for one test, removed
// with everything in it afterwards. Its name carries the running test's name
// and a random number, so tests that run at the same time (ctest -j, several
// build folders) never share one.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace melodrift::testing {

class TempFolder {
  public:
    TempFolder() : path_(UniquePath()) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        // A test may have taken the owner's rights away to make a write fail.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes `bytes` as they are to `name` below the folder, creating the
    // folders on the way, and returns the file's path.
    std::filesystem::path Write(std::string_view name, std::string_view bytes) const {
        const std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << file;
        return file;
    }

  private:
    static std::filesystem::path UniquePath() {
        std::string name = "melodrift";
        if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
            name += std::string("-") + info->test_suite_name() + "-" + info->name();
        name += "-" + std::to_string(std::random_device{}());
        for (char& c : name)
            if (c == '/' || c == '\\') c = '_';
        return std::filesystem::temp_directory_path() / name;
    }

    std::filesystem::path path_;
};

}  // namespace melodrift::testing
