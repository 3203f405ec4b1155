// quorsel-fleet: updates many access points with one firmware file: parse the
// command line, compose the fleet from the platform's sockets, the console and the
// table, run it, write the report. The platform's entry (main_posix.cpp,
// main_win32.cpp) hands it the arguments as UTF-8.
#include "tools/fleet/fleet_main.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "job/exit_status.h"
#include "job/timeouts_from_environment.h"
#include "job/update_job.h"
#include "engine/search/access_point_search.h"
#include "engine/fleet/fleet.h"
#include "engine/fleet/fleet_report.h"
#include "engine/fleet/fleet_targets.h"
#include "image/container.h"
#include "image/text_encoding.h"
#include "image/utf8_path.h"
#include "res/texts.h"
#include "tools/fleet/fleet_options.h"
#include "tools/fleet/fleet_platform.h"
#include "ui/fleet/fleet_console.h"
#include "ui/fleet/fleet_table.h"

namespace {

using namespace quorsel;

constexpr int EXIT_FIRMWARE_UNREADABLE = 8;
constexpr int EXIT_FLEET_FAILED = 1;
constexpr size_t PASSWORD_MAX_BYTES = 15;

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(Utf8FilePath(path), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(Utf8FilePath(path), std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

int InvalidArguments(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n%s\n", TEXT_INVALID_ARGUMENTS, why.c_str(), TEXT_FLEET_USAGE);
    return EXIT_INVALID_ARGUMENTS;
}

class SearchCollector : public SearchListener {
public:
    void OnFound(const FoundPeer& peer) override { found.push_back(peer); }
    void OnProgress(size_t, size_t) override {}
    std::vector<FoundPeer> found;
};

// The password as code page 932 bytes: from --password-file, else asked once.
// nullopt after printing why.
std::optional<std::string> TakePassword(const FleetOptions& options, FleetConsole& console) {
    std::optional<std::string> typed;
    if (!options.passwordFilePath.empty()) {
        typed = ReadWholeFile(options.passwordFilePath);
        if (!typed) {
            std::fprintf(stderr, "%s: %s\n", TEXT_FILE_ERROR, options.passwordFilePath.c_str());
            return std::nullopt;
        }
        typed = typed->substr(0, typed->find_first_of("\r\n"));
    } else {
        typed = console.ReadPassword(TEXT_PASSWORD_PROMPT);
        if (!typed) {
            std::fprintf(stderr, "%s\n", TEXT_ABORTED);
            return std::nullopt;
        }
    }
    std::optional<std::string> bytes = Utf8ToCp932(*typed);
    if (!bytes) {
        std::fprintf(stderr, "%s\n", TEXT_PASSWORD_BAD_CHARACTER);
        return std::nullopt;
    }
    if (bytes->size() > PASSWORD_MAX_BYTES) {
        std::string message = TEXT_PASSWORD_TOO_LONG_FORMAT;
        message.replace(message.find("%1"), 2, std::to_string(PASSWORD_MAX_BYTES));
        std::fprintf(stderr, "%s\n", message.c_str());
        return std::nullopt;
    }
    return bytes;
}

bool NeedsPassword(const std::vector<FleetTarget>& targets) {
    for (const FleetTarget& target : targets) {
        if (target.skip) continue;
        // Unknown (a direct address) or new generation: '2' and above, as a signed byte.
        if (target.generationDigit == 0 || static_cast<signed char>(target.generationDigit) >= '2') return true;
    }
    return false;
}

}  // namespace

int quorsel::RunFleetProgram(int argc, const char* const* argv) {
    auto parsed = ParseFleetOptions(argc, argv);
    if (!parsed) return InvalidArguments(parsed.error());
    const FleetOptions& options = parsed.value();

    // The firmware file: a Linux or Windows updater with its container.
    std::string modelCode;
    {
        Descrambler descrambler;
        auto opened = OpenContainer(options.firmwarePath, descrambler);
        if (!opened) {
            std::fprintf(stderr, "%s: %s: %s\n", TEXT_FILE_ERROR, options.firmwarePath.c_str(),
                         DescribeContainerError(opened.error()));
            return EXIT_FIRMWARE_UNREADABLE;
        }
        modelCode.assign(reinterpret_cast<const char*>(opened.value().trailerTail.data()), MODEL_CODE_LENGTH);
    }

    FleetTargetPlan plan = PlanFleetTargets(options.targets, ReadWholeFile);
    if (!plan.error.empty()) return InvalidArguments(plan.error);

    FleetConsole console;
    std::unique_ptr<Network> network = MakeFleetNetwork();
    SocketLibrarySession sockets(*network);
    if (!sockets.started()) {
        std::fprintf(stderr, "%s\n", TEXT_SOCKET_INIT_FAILED);
        return EXIT_SOCKET_LAYER;
    }
    const auto started = std::chrono::system_clock::now();

    std::vector<FoundPeer> found;
    {
        std::unique_ptr<ProbeNetwork> probes = MakeFleetProbeNetwork();
        if (plan.defaults) {
            TargetExpansion defaults = DefaultTargets(probes->LocalSubnets());
            plan.searched = std::move(defaults.addresses);
        }
        if (!plan.searched.empty()) {
            std::printf("%s\n", TEXT_SEARCH_PROGRESS);
            std::fflush(stdout);
            SearchStop stop;
            console.OnInterrupt([&stop] { stop.Request(); });
            SearchSettings search;
            search.firmwareModel = modelCode;
            SearchCollector collector;
            SearchOutcome outcome = SearchAccessPoints(*probes, plan.searched, search, collector, stop);
            console.OnInterrupt([] {});
            if (!outcome.error.empty()) std::fprintf(stderr, "%s\n", outcome.error.c_str());
            if (outcome.stopped) {
                std::printf("%s\n", TEXT_ABORTED);
                return EXIT_FLEET_FAILED;
            }
            found = std::move(collector.found);
        }
    }
    std::vector<FleetTarget> targets = FleetTargetsFrom(plan, found);

    FleetSettings settings;
    settings.jobs = options.jobs;
    settings.run.transport = TRANSPORT_LAN;
    settings.run.optionFlags = options.optionFlags;
    settings.run.peer.port = {static_cast<uint8_t>(LAN_UPDATE_PORT >> 8), static_cast<uint8_t>(LAN_UPDATE_PORT & 0xFF)};
    settings.run.programPath = options.firmwarePath;
    settings.run.timeouts = TimeoutsFromEnvironment();
    if (targets.empty()) {
        std::printf("%s\n", TEXT_SEARCH_NONE_FOUND);
    } else if (NeedsPassword(targets)) {
        settings.password = TakePassword(options, console);
        if (!settings.password) return EXIT_FLEET_FAILED;
    }

    FleetTable table(stdout, console.OutputIsTerminal(), [&console] {
        const FleetConsole::Size size = console.TerminalSize();
        return std::pair<size_t, size_t>{size.columns, size.rows};
    });
    Fleet fleet(settings, targets, *network, table);
    console.OnInterrupt([&fleet, &table] {
        const StopAnswer answer = fleet.RequestStop();
        if (!answer.repeated) table.Notice(TEXT_FLEET_STOPPING);
        if (answer.busy > 0) {
            std::string text = TEXT_FLEET_WAITING_BUSY_FORMAT;
            text.replace(text.find("%1"), 2, std::to_string(answer.busy));
            table.Notice(text);
        }
    });
    table.Start(fleet.Snapshot());
    fleet.Run();
    console.OnInterrupt([] {});  // the fleet is over: nothing is left to stop
    const std::vector<FleetEntry> entries = fleet.Snapshot();
    table.Finish(entries);
    const int status = FleetExitStatus(entries);

    if (!options.reportPath.empty()) {
        FleetReportHeader header;
        header.firmwarePath = options.firmwarePath;
        header.modelCode = modelCode;
        header.optionFlags = options.optionFlags;
        header.started = started;
        header.ended = std::chrono::system_clock::now();
        header.exitStatus = status;
        FleetReportTexts texts{StatusTextFor, ExitStatusFor, TEXT_FLEET_SKIPPED, TEXT_FLEET_NOT_STARTED};
        if (!WriteWholeFile(options.reportPath, FleetReportJson(header, entries, texts))) {
            std::fprintf(stderr, "%s: %s\n", TEXT_FLEET_REPORT_FAILED, options.reportPath.c_str());
            return EXIT_FLEET_FAILED;
        }
    }
    return status;
}
