// What the note list needs from the voicebank configuration: whether it holds
// entries, emptying it, and loading it from a voice folder. The voicebank
// layer implements it; the note list only calls it, so the plug-in file can be
// read without a voicebank (tests, a missing VoiceDir).
#pragma once

#include <string_view>

namespace melodrift {

class VoicebankLink {
  public:
    virtual ~VoicebankLink() = default;
    virtual bool IsEmpty() const = 0;
    virtual void Clear() = 0;
    // `voiceDir` as read from the plug-in file, decoded (UTF-8).
    virtual void Load(std::string_view voiceDir) = 0;
};

}  // namespace melodrift
