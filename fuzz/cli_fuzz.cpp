// The command line's argument parsing: the input is split into words at
// newlines and run as melodrift-cli's arguments in a folder that holds a
// short recording, a plug-in file and an edit state (restored before every
// run). Words cannot leave the folder: "/" and "\" become "_".
#include "FuzzSupport.h"

#include "cli/Cli.h"

#include <algorithm>
#include <sstream>
#include <vector>

using namespace melodrift;

namespace {

constexpr std::string_view kPluginFile =
    "[#SETTING]\r\nTempo=120.00\r\nVoiceDir=voice\r\n[#0000]\r\nLength=480\r\n";
constexpr std::string_view kEditState =
    "[Melodrift]\r\nMelodrift=1\r\nVersion=2.00\r\nWaveFile=rec.wav\r\nMojiCount=2\r\n"
    "[0]\r\nTime=0\r\nLength=70\r\nLyric=a\r\n[1]\r\nTime=70\r\nLength=80\r\nLyric=R\r\n";

void ResetFolder() {
    static bool entered = false;
    if (!entered) {
        std::filesystem::current_path(fuzz::ScratchFolder());
        entered = true;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(".", ec))
        std::filesystem::remove_all(entry.path(), ec);
    static const std::string wave = fuzz::SquareWaveWav(6615);
    fuzz::WriteBytes("rec.wav", wave);
    fuzz::WriteBytes("p.tmp", kPluginFile);
    fuzz::WriteBytes("s.mlq", kEditState);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    ResetFolder();
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            args.emplace_back();
        } else {
            args.back() += c == '/' || c == '\\' ? '_' : c;
        }
    }
    if (args.size() > 64) return 0;
    std::ostringstream out;
    std::ostringstream err;
    const CliStreams streams{out, err, false};
    const int code = RunCli(args, streams);
    if (code != kExitSuccess && code != kExitFailure && code != kExitUsage) std::abort();
    return 0;
}
