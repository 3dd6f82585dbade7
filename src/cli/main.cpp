// melodrift-cli: the window's workflows on the command line (see cli/Cli.h).
#include "cli/Cli.h"
#include "system/Platform.h"
#include "system/Terminal.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    melodrift::platform::UseUtf8Console();
    const std::vector<std::string> args = melodrift::platform::Utf8Arguments(argc, argv);
    const melodrift::CliStreams streams{std::cout, std::cerr, melodrift::IsTerminal(stderr)};
    return melodrift::RunCli(args, streams);
}
