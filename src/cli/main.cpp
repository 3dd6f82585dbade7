// melodrift-cli: the window's workflows on the command line (see cli/Cli.h).
#include "cli/Cli.h"
#include "text/Terminal.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const melodrift::CliStreams streams{std::cout, std::cerr, melodrift::IsTerminal(stderr)};
    return melodrift::RunCli(args, streams);
}
