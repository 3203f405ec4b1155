// quorsel-scan's command line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/result.h"

namespace quorsel::scan {

struct ScanOptions {
    bool showHelp = false;
    bool showVersion = false;
    bool json = false;
    bool verbose = false;              // also the addresses that are not listed, and why
    size_t jobs = 0;                   // 0: the search's default
    std::string firmwarePath;          // empty: no fit column
    std::vector<std::string> targets;  // as given ("@FILE" and "@-" unread); empty: the default targets
};

// Parses argv[1..argc-1]; the error is a one-line message for the user.
Result<ScanOptions, std::string> ParseScanOptions(int argc, const char* const* argv);

std::string ScanUsageText();
// "quorsel-scan 1.0"
std::string ScanVersionText();

}  // namespace quorsel::scan
