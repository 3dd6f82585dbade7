// Whether an output stream of the C library is an interactive terminal, for
// deciding if a progress display makes sense there.
#pragma once

#include <cstdio>

namespace melodrift {

// True when `stream` (stdout, stderr) is connected to a terminal; false for
// files, pipes and a null stream.
bool IsTerminal(std::FILE* stream);

}  // namespace melodrift
