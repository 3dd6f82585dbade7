// The command line, melodrift-cli: the window's workflows run from files.
//
//   analyze WAV [--format csv|json] [-o OUT]
//   segment WAV -o STATE.mlq [--auto] [--cuts MS,...] [--lyrics L,...] [--force]
//   insert PLUGIN_FILE --state STATE.mlq [--correction] [--pitch-mode 1|2]
//          [--no-key] [--no-pitch] [--no-volume] [--cr-pre MS]
//          [--cr-overlap MS] [--cr-consonant MS] [--overwrite-frq]
//          [--keep-selection] [--allow-missing-voicebank]
//   frq WAV [-o OUT] [--force]
//   preview WAV --from MS --to MS [--resynth] [--state STATE.mlq] -o OUT.wav
//
// Exit codes: 0 success, 1 failure (message on stderr, every file it would
// have written left as it was), 2 bad arguments.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace melodrift {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CliStreams {
    std::ostream& Out;  // results (analysis tables, the demo's listings)
    std::ostream& Err;  // messages, questions and their answers, progress
    // Draw a progress bar on Err for long analyses (Err is a terminal).
    bool ProgressOnErr = false;
};

// Runs one command. `args` are the words after the program name.
int RunCli(const std::vector<std::string>& args, const CliStreams& streams);

}  // namespace melodrift
