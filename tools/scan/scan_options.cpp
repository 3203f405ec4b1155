#include "tools/scan/scan_options.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "engine/search/access_point_search.h"

namespace quorsel::scan {

std::string ScanUsageText() {
    return "Usage: quorsel-scan [--firmware FILE] [--json] [--verbose] [--jobs N] [--] [TARGET...]\n"
           "\n"
           "Searches the network for access points: connects to TCP port 9002 of every\n"
           "target address, asks each that accepts for its model (\"INQR\") and prints\n"
           "the access points found, sorted by address.\n"
           "\n"
           "  TARGET           an IPv4 address (a.b.c.d), a range (a.b.c.d/n, or a.b.c.d-e\n"
           "                   for the last part from d to e), @FILE (one target per line,\n"
           "                   '#' starts a comment) or @- (the targets on standard input).\n"
           "                   Without one, the subnets of this machine's interfaces (each\n"
           "                   at most the /22 around its address) and 192.168.1.254, subnet\n"
           "                   by subnet while they fit; the subnets left out are named on\n"
           "                   standard error. At most " +
           std::to_string(SEARCH_MAX_ADDRESSES) +
           " addresses in all.\n"
           "  --firmware FILE  mark the access points whose model the firmware file fits\n"
           "  --json           instead of the table, one JSON object per line for each\n"
           "                   address that answered, as it answers\n"
           "  --verbose        also list the addresses that gave no model, and why\n"
           "  --jobs N         connections in flight at once, 1 to " +
           std::to_string(SEARCH_MAX_JOBS) + " (default " + std::to_string(DEFAULT_SEARCH_JOBS) +
           ")\n"
           "  -h, --help       show this text\n"
           "  --version        show the version\n"
           "\n"
           "Exit status: 0 when an access point was found, 1 when none was, 2 for a bad\n"
           "command line, a target list without an address or with too many, or an\n"
           "unusable firmware or target file, 3 when the search could not run.\n";
}

std::string ScanVersionText() { return std::string("quorsel-scan ") + QUORSEL_VERSION + "\n"; }

Result<ScanOptions, std::string> ParseScanOptions(int argc, const char* const* argv) {
    ScanOptions options;
    bool onlyTargets = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (onlyTargets || arg.empty() || arg[0] != '-' || arg == "-") {
            options.targets.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyTargets = true;
            continue;
        }
        // "--name=value" and "--name value" alike.
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        std::optional<std::string_view> inlineValue;
        if (equals != std::string_view::npos && arg.rfind("--", 0) == 0) inlineValue = arg.substr(equals + 1);
        const bool takesValue = name == "--firmware" || name == "--jobs";
        if (inlineValue && !takesValue) return Fail("option " + std::string(name) + " takes no value (see --help)");
        if (name == "--help" || name == "-h") {
            options.showHelp = true;
        } else if (name == "--version") {
            options.showVersion = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--verbose") {
            options.verbose = true;
        } else if (takesValue) {
            if (!inlineValue && i + 1 >= argc) return Fail("option " + std::string(name) + " needs a value (see --help)");
            const std::string_view value = inlineValue ? *inlineValue : std::string_view(argv[++i]);
            if (name == "--firmware") {
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
