// Helpers shared by the plug-in layer's tests: a temporary folder that cleans
// up after itself, prompts that record what was shown, and a voicebank stand-in
// that records what it was asked to do.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "plugin/VoicebankLink.h"
#include "text/Prompts.h"

namespace melodrift::testing {

class TempFolder {
public:
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("melodrift-plugin-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path Write(const std::string& name, std::string_view bytes) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path path_;
};

class RecordingPrompts : public SilentPrompts {
public:
    void Warn(std::string_view text) override { warnings.emplace_back(text); }
    std::vector<std::string> warnings;
};

class FakeVoicebank : public VoicebankLink {
public:
    bool IsEmpty() const override { return loads.empty(); }
    void Clear() override {
        ++clears;
        loads.clear();
    }
    void Load(std::string_view voiceDir) override { loads.emplace_back(voiceDir); }

    int clears = 0;
    std::vector<std::string> loads;
};

}  // namespace melodrift::testing
