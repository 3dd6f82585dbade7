// The pitch lines of a note's section, one writer per encoding. Each appends
// its lines to `out` and returns how many values it had to clamp into the
// hosts' ranges (Note::ClampedValues).
//
// Mode1:  "Pitches=" and "Piches=" (the grid, whole cents, only when it
//         differs from the empty grid of a new note), "$OldPitches=" and
//         "$OldPrePitches=" (compact text, plugin/PitchEncoding.h),
//         "$OldPiches= ", "PBStart=" (ms from the note start to the sample
//         start, negative).
// Mode2:  "PBW=", "PBY=", "PBS=", "PBM=" (plugin/Portamento.h), only for a
//         note with at least two portamento points.
#pragma once

#include <string>
#include <vector>

namespace melodrift {

class Note;

// How a note's pitch is written: Mode1 as the 5-tick grid, Mode2 as
// portamento points. The numbers are the hosts' mode numbers.
enum class PitchEncoding { Mode1 = 1, Mode2 = 2 };

// Rebuilds the note's pitch history lists before writing them.
int AppendMode1PitchLines(Note& note, std::vector<std::string>& out);
int AppendMode2PitchLines(const Note& note, std::vector<std::string>& out);

}  // namespace melodrift
