#include "tools/scan/scan_options.h"

#include <charconv>
#include <string_view>

#include "engine/search/access_point_search.h"

namespace quorsel::scan {

std::string ScanUsageText() {
    return "Usage: quorsel-scan [--firmware FILE] [--json] [--jobs N] [TARGET...]\n"
           "\n"
           "Searches the network for access points: connects to TCP port 9002 of every\n"
           "target address, asks each that accepts for its model (\"INQR\") and prints\n"
           "the access points found, sorted by address.\n"
           "\n"
           "  TARGET           an IPv4 address (a.b.c.d) or range (a.b.c.d/n); without\n"
           "                   one, the subnets of this machine's interfaces (each at most\n"
           "                   the /22 around its address) and 192.168.1.254. At most " +
           std::to_string(SEARCH_MAX_ADDRESSES) +
           " addresses in all.\n"
           "  --firmware FILE  mark the access points whose model the firmware file fits\n"
           "  --json           instead of the table, one JSON object per line for each\n"
           "                   address that answered, as it answers\n"
           "  --jobs N         connections in flight at once, 1 to " +
           std::to_string(SEARCH_MAX_JOBS) + " (default " + std::to_string(DEFAULT_SEARCH_JOBS) +
           ")\n"
           "  --help           show this text\n"
           "\n"
           "Exit status: 0 when an access point was found, 1 when none was, 2 for a bad\n"
           "command line, too many addresses or an unusable firmware file, 3 when the\n"
           "search could not run.\n";
}

Result<ScanOptions, std::string> ParseScanOptions(int argc, const char* const* argv) {
    ScanOptions options;
    bool onlyTargets = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (onlyTargets || arg.empty() || arg[0] != '-') {
            options.targets.emplace_back(arg);
        } else if (arg == "--") {
            onlyTargets = true;
        } else if (arg == "--help" || arg == "-h") {
            options.showHelp = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--firmware" || arg == "--jobs") {
            if (i + 1 >= argc) return Fail("option " + std::string(arg) + " needs a value (see --help)");
            const std::string_view value = argv[++i];
            if (arg == "--firmware") {
                if (value.empty()) return Fail(std::string("--firmware needs a file name"));
                options.firmwarePath = value;
                continue;
            }
            size_t jobs = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), jobs);
            if (ec != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > SEARCH_MAX_JOBS) {
                return Fail("--jobs must be a number from 1 to " + std::to_string(SEARCH_MAX_JOBS));
            }
            options.jobs = jobs;
        } else {
            return Fail("unknown option " + std::string(arg) + " (see --help)");
        }
    }
    return options;
}

}  // namespace quorsel::scan
