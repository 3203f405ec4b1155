// quorsel-scan.exe, a console program: parse, compose, run. The arguments come as
// UTF-16 (wmain) and are turned into UTF-8 once, so a firmware file is opened by the
// name typed whatever the ANSI code page; the table's Japanese headers are UTF-8, so
// the console is told to take UTF-8 before anything is printed.
#include <iostream>

#include "app/process_win32.h"
#include "engine/search/probe_network_win32.h"
#include "image/text_file.h"
#include "res/texts.h"
#include "tools/scan/scan_command.h"

int wmain(int argc, wchar_t** argv) {
    using namespace quorsel::scan;
    const quorsel::Utf8ConsoleOutput console;
    const auto arguments = quorsel::Utf8Arguments::From(argc, argv);
    if (!arguments) {
        std::cerr << "quorsel-scan: " << quorsel::TEXT_ARGUMENT_NOT_UNICODE << '\n';
        return EXIT_BAD_ARGUMENTS;
    }
    const auto options = ParseScanOptions(arguments->count(), arguments->values());
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
    quorsel::Win32ProbeNetwork network;
    return RunScan(*options, network, std::cout, std::cerr, quorsel::ReadTextFileOrInput);
}
