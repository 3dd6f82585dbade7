// Work started from the window's thread runs at full speed again.
//
// Creating the QGuiApplication leaves the upper halves of the AVX registers
// "dirty" on the window's thread, and threads started from it inherit that
// state. While it lasts, every SSE instruction of code built without AVX
// (ours, and glibc's sin behind it) pays a transition penalty: measured
// here, 30 million std::sin calls take 6.1 s instead of 0.28 s, and a
// resynthesised preview renders about 12 times slower than on the command
// line. One vzeroupper at the start of a worker clears it.
#pragma once

namespace melodrift {

// Clears the upper halves of the AVX registers of the calling thread (x86-64
// with AVX, GCC or Clang); does nothing elsewhere.
void ClearUpperVectorState();

}  // namespace melodrift
