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

#include "TempFolder.h"
#include "plugin/VoicebankLink.h"
#include "system/Prompts.h"

namespace melodrift::testing {

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
