// quorsel-scan.exe, a console program: parse, compose, run. The table's Japanese
// headers are UTF-8, so the console is told to take UTF-8.
#include <windows.h>

#include <iostream>

#include "engine/search/probe_network_win32.h"
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
    ::SetConsoleOutputCP(CP_UTF8);
    quorsel::Win32ProbeNetwork network;
    return RunScan(*options, network, std::cout, std::cerr, quorsel::ReadTextFileOrInput);
}
