// quorsel-scan on Linux: parse, compose, run.
#include <iostream>

#include "engine/search/probe_network_posix.h"
#include "image/text_file.h"
#include "tools/scan/scan_command.h"

int main(int argc, char** argv) {
    using namespace quorsel::scan;
    const auto options = ParseScanOptions(argc, argv);
    if (!options) {
        std::cerr << "quorsel-scan: " << options.error() << '\n';
        return EXIT_BAD_ARGUMENTS;
    }
    if (options->showHelp) {
        std::cout << ScanUsageText();
        return EXIT_FOUND;
    }
    if (options->showVersion) {
        std::cout << ScanVersionText();
        return EXIT_FOUND;
    }
    quorsel::PosixProbeNetwork network;
    return RunScan(*options, network, std::cout, std::cerr, quorsel::ReadTextFileOrInput);
}
