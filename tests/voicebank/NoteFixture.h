// A loaded note list for the voicebank passes: a plug-in file with tempo 120
// in a temporary folder, notes appended in order.
#pragma once

#include "plugin/NoteList.h"
#include "system/Prompts.h"

#include "TestFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace melodrift::testing {

struct NoteInput {
    std::string LyricUtf8;
    double LengthMs = 250.0;  // at tempo 120: 480 ticks
    int NoteNum = 60;
    int Intensity = 100;
};

class NoteListFixture {
  public:
    NoteListFixture() : notes_(nullptr) {
        WriteBytes(folder_.path() / "plugin.tmp", "[#SETTING]\r\nTempo=120\r\n");
        SilentPrompts prompts;
        EXPECT_EQ(notes_.LoadFromPluginFile(folder_.path() / "plugin.tmp", prompts), 2);
    }

    // Appends one note per input (lyrics given in UTF-8, stored as CP932) and relinks.
    void Add(const std::vector<NoteInput>& inputs) {
        for (const NoteInput& input : inputs) {
            const int slot = notes_.InsertNote(1e9);
            Note* note = notes_.GetNote(slot);
            note->Lyric = input.LyricUtf8;
            note->Length = input.LengthMs * 120.0 / 125.0;  // ms → ticks at 120 bpm
            note->NoteNum = input.NoteNum;
            note->Intensity = input.Intensity;
        }
        notes_.Relink();
    }

    NoteList& notes() { return notes_; }
    Note& operator[](int slot) { return *notes_.GetNote(slot); }
    std::string LyricUtf8(int slot) { return (*this)[slot].Lyric; }
    const TempFolder& folder() const { return folder_; }

  private:
    TempFolder folder_;
    NoteList notes_;
};

}  // namespace melodrift::testing
