// quorsel-fleet: updates many access points with one firmware file: parse the
// command line, check every file it names and the report, probe every target with
// the search's core, compose the fleet from the platform's sockets, the console and
// the table, run it, and keep the report up to date.
// The platform's entry (main_posix.cpp, main_win32.cpp) hands it the arguments as
// UTF-8.
#include "tools/fleet/fleet_main.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/fleet/earlier_report.h"
#include "engine/fleet/firmware_set.h"
#include "engine/fleet/fleet.h"
#include "engine/fleet/fleet_events.h"
#include "engine/fleet/fleet_report.h"
#include "engine/fleet/fleet_targets.h"
#include "engine/fleet/restart_watch.h"
#include "engine/run_log.h"
#include "engine/search/access_point_search.h"
#include "image/container.h"
#include "image/file_stream.h"
#include "image/sha256.h"
#include "image/text_encoding.h"
#include "image/text_file.h"
#include "job/exit_status.h"
#include "job/timeouts_from_environment.h"
#include "job/update_job.h"
#include "res/texts.h"
#include "tools/fleet/fleet_options.h"
#include "tools/fleet/fleet_platform.h"
#include "ui/fleet/fleet_console.h"
#include "ui/fleet/fleet_table.h"

namespace {

using namespace quorsel;

constexpr size_t PASSWORD_MAX_BYTES = 15;
constexpr int EXIT_USAGE_SHOWN = 0;  // --help, --version
constexpr int EXIT_SUCCESS_NOTHING_TO_REDO = 0;  // --retry-failed with a report where every one ended

int InvalidArguments(const std::string& why) {
    std::fprintf(stderr, "%s: %s\n%s\n", TEXT_INVALID_ARGUMENTS, why.c_str(), TEXT_FLEET_USAGE);
    return EXIT_INVALID_ARGUMENTS;
}

// Why the file at path cannot be read as a file; nullopt when it looks readable.
std::optional<std::string> FileProblem(const std::string& path) {
    std::error_code error;
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    if (std::filesystem::is_directory(name, error)) return path + ": is a directory";
    if (!std::filesystem::exists(name, error)) return path + ": not found";
    const auto opened = FileStream::OpenForReading(path);
    if (opened) return std::nullopt;
    if (opened.error() == FileOpenError::InUse) return path + ": " + DescribeContainerError(ContainerError::FileInUse);
    return path + ": cannot be read";
}

// The firmware files, one per model; the error says what is wrong with which file.
Result<FirmwareSet, std::string> CheckFirmware(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (auto problem = FileProblem(path)) return Fail(*problem);
    }
    return FirmwareSet::Open(paths);
}

// An earlier report for --retry-failed or --skip-updated.
Result<EarlierReport, std::string> ReadEarlierReport(const std::string& path) {
    auto text = ReadTextFile(path);
    if (!text) return Fail(text.error());
    return ParseEarlierReport(text.value(), path);
}

// The typed or stored password as code page 932 bytes; the error is the line to print.
Result<std::string, std::string> PasswordBytes(const std::string& typed) {
    std::optional<std::string> bytes = Utf8ToCp932(typed.substr(0, typed.find_first_of("\r\n")));
    if (!bytes) return Fail(std::string(TEXT_PASSWORD_BAD_CHARACTER));
    if (bytes->size() > PASSWORD_MAX_BYTES) {
        std::string message = TEXT_PASSWORD_TOO_LONG_FORMAT;
        message.replace(message.find("%1"), 2, std::to_string(PASSWORD_MAX_BYTES));
        return Fail(message);
    }
    return *bytes;
}

class SearchCollector : public SearchListener {
public:
    void OnFound(const FoundPeer& peer) override { found.push_back(peer); }
    void OnProgress(size_t, size_t) override {}
    void OnMissed(const Ipv4Address& address, ProbeMiss why) override { missed.push_back(MissedPeer{address, why}); }
    std::vector<FoundPeer> found;
    std::vector<MissedPeer> missed;
};

// A run needs the password: the probe found its access point to be of the new generation.
bool NeedsPassword(const std::vector<FleetTarget>& targets) {
    for (const FleetTarget& target : targets) {
        if (target.verdict != FleetResult::NONE || target.skip) continue;
        if (std::string_view(GenerationName(target.generationDigit)) == "new") return true;
    }
    return false;
}

bool AnyToRun(const std::vector<FleetTarget>& targets) {
    for (const FleetTarget& target : targets) {
        if (target.verdict == FleetResult::NONE && !target.skip) return true;
    }
    return false;
}

// The report file: saved whole after each run and at the end; a failed save leaves
// the file as it was and is told on standard error.
class ReportFile {
public:
    ReportFile(std::string path, FleetReportHeader header) : path_(std::move(path)), header_(std::move(header)) {}

    // nullopt when saved (or no report was asked for), else why not.
    std::optional<std::string> Save(const std::vector<FleetEntry>& entries) {
        if (path_.empty()) return std::nullopt;
        std::lock_guard<std::mutex> lock(mutex_);
        const FleetReportTexts texts{StatusTextFor, ExitStatusFor, TEXT_FLEET_NOT_STARTED};
        return ReplaceFileAtomically(path_, FleetReportJson(header_, entries, texts));
    }
    void SaveOrTell(const std::vector<FleetEntry>& entries) {
        if (auto error = Save(entries)) std::fprintf(stderr, "%s: %s\n", TEXT_FLEET_REPORT_FAILED, error->c_str());
    }
    // The fleet's end: the report says it finished, with this status.
    int Finish(const std::vector<FleetEntry>& entries, int status) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            header_.ended = std::chrono::system_clock::now();
            header_.exitStatus = status;
        }
        SaveOrTell(entries);
        return status;
    }
    FleetReportHeader header() {
        std::lock_guard<std::mutex> lock(mutex_);
        return header_;
    }

private:
    std::string path_;
    std::mutex mutex_;
    FleetReportHeader header_;
};

// Every change goes to the table and, with --json, to the events; the report is saved
// whenever a run ends, and an updated access point is handed to the restart watch.
class FleetWatch : public FleetObserver, public RestartWatchListener {
public:
    FleetWatch(FleetTable& table, ReportFile& report, FleetEventWriter* events)
        : table_(table), report_(report), events_(events) {}
    void Attach(Fleet& fleet, RestartWatch* restarts) {
        fleet_ = &fleet;
        restarts_ = restarts;
    }
    void EntryChanged(size_t index, const FleetEntry& entry) override {
        table_.EntryChanged(index, entry);
        if (events_ != nullptr) events_->EntryChanged(index, entry);
    }
    void RunEnded(size_t index, const FleetEntry& entry) override {
        table_.RunEnded(index, entry);
        if (restarts_ != nullptr && entry.result == FleetResult::UPDATED) {
            restarts_->Add(entry.target.address, entry.target.modelCode);
        }
        if (fleet_ != nullptr) report_.SaveOrTell(fleet_->Snapshot());
    }
    void RestartChanged(const RestartWatchEntry& watched) override {
        if (fleet_ == nullptr) return;
        fleet_->NoteRestart(watched);
        if (watched.state != RestartState::AWAITED) report_.SaveOrTell(fleet_->Snapshot());
    }

private:
    FleetTable& table_;
    ReportFile& report_;
    FleetEventWriter* events_;
    Fleet* fleet_ = nullptr;
    RestartWatch* restarts_ = nullptr;
};

// A dry run's rows: what would be updated is planned (the report names its file);
// the probe decided the rest, with its reason.
std::vector<FleetEntry> PlannedEntries(const std::vector<FleetTarget>& targets) {
    std::vector<FleetEntry> entries;
    for (const FleetTarget& target : targets) {
        FleetEntry entry;
        entry.target = target;
        entry.state = FleetState::SKIPPED;
        entry.result = target.verdict == FleetResult::NONE ? FleetResult::PLANNED : target.verdict;
        entry.reason = target.reason;
        entries.push_back(entry);
    }
    return entries;
}

void WriteEventLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int quorsel::RunFleetProgram(int argc, const char* const* argv) {
    PrepareFleetProcess();
    auto parsed = ParseFleetOptions(argc, argv);
    if (!parsed) return InvalidArguments(parsed.error());
    const FleetOptions& options = parsed.value();
    if (options.action == FleetAction::HELP) {
        std::printf("%s\n", TEXT_FLEET_USAGE);
        return EXIT_USAGE_SHOWN;
    }
    if (options.action == FleetAction::VERSION) {
        std::printf("quorsel-fleet %s\n", QUORSEL_VERSION);
        return EXIT_USAGE_SHOWN;
    }

    // Every file the command line names is checked before anything is contacted.
    auto firmware = CheckFirmware(options.FirmwarePaths());
    if (!firmware) {
        std::fprintf(stderr, "%s: %s\n", TEXT_FILE_ERROR, firmware.error().c_str());
        return EXIT_INVALID_ARGUMENTS;
    }
    const FirmwareSet& files = firmware.value();
    const std::string modelCode = files.files().front().model;
    std::optional<std::string> password;
    if (!options.passwordFilePath.empty()) {
        auto stored = ReadTextFile(options.passwordFilePath);
        if (!stored) {
            std::fprintf(stderr, "%s: %s\n", TEXT_FLEET_PASSWORD_FILE_ERROR, stored.error().c_str());
            return EXIT_INVALID_ARGUMENTS;
        }
        auto bytes = PasswordBytes(stored.value());
        if (!bytes) {
            std::fprintf(stderr, "%s: %s\n", options.passwordFilePath.c_str(), bytes.error().c_str());
            return EXIT_INVALID_ARGUMENTS;
        }
        password = bytes.value();
    }
    // With --json, standard output holds the events only; what people read goes to standard error.
    std::FILE* const human = options.json ? stderr : stdout;
    FleetEventWriter events(WriteEventLine, FleetReportTexts{StatusTextFor, ExitStatusFor, TEXT_FLEET_NOT_STARTED},
                            files.files().front().path);

    // --retry-failed: the targets are the earlier report's access points that did not end.
    std::vector<std::string> givenTargets = options.targets;
    if (!options.retryFailedPath.empty()) {
        auto earlier = ReadEarlierReport(options.retryFailedPath);
        if (!earlier) return InvalidArguments(earlier.error());
        auto redo = RetryTargets(earlier.value(), files);
        if (!redo) return InvalidArguments(redo.error());
        if (redo.value().empty()) {
            std::fprintf(human, "%s: %s\n", TEXT_FLEET_NOTHING_TO_REDO, options.retryFailedPath.c_str());
            if (options.json) events.NothingToRedo(options.retryFailedPath);
            return EXIT_SUCCESS_NOTHING_TO_REDO;
        }
        for (const Ipv4Address& address : redo.value()) givenTargets.push_back(FormatAddress(address));
    }
    std::vector<Ipv4Address> alreadyUpdated;
    if (!options.skipUpdatedPath.empty()) {
        auto earlier = ReadEarlierReport(options.skipUpdatedPath);
        if (!earlier) return InvalidArguments(earlier.error());
        alreadyUpdated = UpdatedWithSameFirmware(earlier.value(), files);
    }

    const bool defaults = givenTargets.empty();
    FleetTargetPlan plan;
    if (!defaults) {
        auto targets = ReadTargetArguments(givenTargets, ReadTextFileOrInput);
        if (!targets) return InvalidArguments(targets.error());
        plan = PlanFleetTargets(targets.value());
        if (!plan.error.empty()) return InvalidArguments(plan.error);
    }

    FleetReportHeader header;
    header.version = QUORSEL_VERSION;
    for (const FirmwareFile& file : files.files()) {
        header.firmware.push_back(FleetFirmware{file.path, file.size, file.sha256, file.model});
    }
    header.regions = RegionLetters(options.optionFlags);
    header.targets = options.targets;
    header.started = std::chrono::system_clock::now();
    ReportFile report(options.reportPath, header);
    if (auto error = report.Save({})) {
        std::fprintf(stderr, "%s: %s\n", TEXT_FLEET_REPORT_FAILED, error->c_str());
        return EXIT_INVALID_ARGUMENTS;
    }

    FleetConsole console;
    // Every line for people goes through the table: without a terminal, each one is
    // led by its time. With --json they go to standard error.
    FleetTable table(
        human, !options.json && console.OutputIsTerminal(),
        [&console] {
            const FleetConsole::Size size = console.TerminalSize();
            return std::pair<size_t, size_t>{size.columns, size.rows};
        },
        [] { return LocalTimestamp(std::chrono::system_clock::now()); });
    std::unique_ptr<Network> network = MakeFleetNetwork();
    SocketLibrarySession sockets(*network);
    if (!sockets.started()) {
        std::fprintf(stderr, "%s\n", TEXT_SOCKET_INIT_FAILED);
        return report.Finish({}, EXIT_SOCKET_LAYER);
    }

    // Every target is probed first: only access points whose model has a file are run.
    SearchCollector collector;
    std::unique_ptr<ProbeNetwork> probes = MakeFleetProbeNetwork();
    {
        if (defaults) {
            TargetExpansion found = DefaultTargets(probes->LocalSubnets());
            for (const std::string& subnet : found.leftOut) {
                std::fprintf(stderr, "%s: %s\n", TEXT_SEARCH_SUBNET_LEFT_OUT, subnet.c_str());
            }
            plan = PlanDefaultTargets(found.addresses);
        }
        if (!alreadyUpdated.empty()) {
            LeaveOut(plan, alreadyUpdated);
            for (const Ipv4Address& address : alreadyUpdated) {
                table.Notice(std::string(TEXT_FLEET_ALREADY_UPDATED) + ": " + FormatAddress(address) + " (" +
                             options.skipUpdatedPath + ")");
            }
        }
        table.Notice(TEXT_SEARCH_PROGRESS);
        SearchStop stop;
        console.OnInterrupt([&stop] { stop.Request(); });
        SearchSettings search;
        search.firmwareModel = modelCode;
        const SearchOutcome outcome = SearchAccessPoints(*probes, plan.probed, search, collector, stop);
        console.OnInterrupt([] {});
        if (!outcome.error.empty()) {
            std::fprintf(stderr, "%s\n", outcome.error.c_str());
            return report.Finish({}, EXIT_SOCKET_LAYER);
        }
        if (outcome.stopped) {
            table.Notice(TEXT_ABORTED);
            return report.Finish({}, FLEET_EXIT_FAILED);
        }
    }
    std::vector<FleetTarget> targets = FleetTargetsFrom(plan, collector.found, collector.missed, modelCode);
    AssignFirmware(targets, files);

    if (options.dryRun) {
        // The plan, written as the report; nothing but the inquiry reached an access point.
        const std::vector<FleetEntry> entries = PlannedEntries(targets);
        table.Notice(TEXT_FLEET_DRY_RUN);
        table.Notice(FleetHeader());
        for (const FleetEntry& entry : entries) {
            const bool planned = entry.result == FleetResult::PLANNED;
            table.Notice(FleetRow(entry, std::chrono::steady_clock::now()) + "  " +
                         (planned ? entry.target.firmwarePath : entry.reason));
        }
        if (options.json) events.Plan(header, entries, true);
        const int status = report.Finish(entries, FleetExitStatus(entries));
        if (options.json) events.End(report.header(), entries);
        console.Finished();
        return status;
    }

    if (defaults) {
        // Nobody named these access points: the plan first, and a yes before any is written.
        if (!AnyToRun(targets)) table.Notice(TEXT_SEARCH_NONE_FOUND);
        if (AnyToRun(targets) && !options.yes) {
            table.Notice(TEXT_FLEET_PLAN);
            table.Notice(FleetHeader());
            for (const FleetTarget& target : targets) {
                FleetEntry row;
                row.target = target;
                row.state = target.verdict == FleetResult::NONE ? FleetState::WAITING : FleetState::SKIPPED;
                table.Notice(FleetRow(row, std::chrono::steady_clock::now()));
            }
            const std::optional<bool> yes = options.json ? std::optional<bool>() : console.Confirm(TEXT_FLEET_CONFIRM);
            if (!yes) {
                std::fprintf(stderr, "%s\n", TEXT_FLEET_NEEDS_YES);
                return report.Finish({}, EXIT_INVALID_ARGUMENTS);
            }
            if (!*yes) {
                table.Notice(TEXT_ABORTED);
                return report.Finish({}, FLEET_EXIT_NOTHING_TO_UPDATE);
            }
        }
    }

    // One record per access point in the same run log as the updater's own.
    RunLog runLog(RunLogFolder());
    FleetSettings settings;
    settings.run.log = &runLog;
    settings.jobs = options.jobs;
    settings.run.transport = TRANSPORT_LAN;
    settings.run.optionFlags = options.optionFlags;
    settings.run.peer.port = {static_cast<uint8_t>(LAN_UPDATE_PORT >> 8), static_cast<uint8_t>(LAN_UPDATE_PORT & 0xFF)};
    settings.run.programPath = files.files().front().path;
    settings.run.timeouts = TimeoutsFromEnvironment();
    settings.password = password;
    if (!options.batches.empty() || options.maxFail) {
        size_t toRun = 0;
        for (const FleetTarget& target : targets) toRun += target.verdict == FleetResult::NONE && !target.skip ? 1 : 0;
        settings.rollout.emplace(toRun, options.batches, options.maxFail);
    }
    // Only a person at a terminal is asked; scripts give --password-file, and without
    // it the runs that need a password fail ("no password given").
    if (!settings.password && NeedsPassword(targets) && !options.json && console.InputIsTerminal()) {
        if (std::optional<std::string> typed = console.ReadPassword(TEXT_PASSWORD_PROMPT)) {
            auto bytes = PasswordBytes(*typed);
            if (bytes) settings.password = bytes.value();
            else std::fprintf(stderr, "%s\n", bytes.error().c_str());
        }
    }

    FleetWatch watch(table, report, options.json ? &events : nullptr);
    Fleet fleet(settings, targets, *network, watch);
    // --await-restart: each updated access point is asked until it is seen restarting.
    RestartWatchStop restartStop;
    SystemRestartWatchClock restartClock;
    std::optional<RestartWatch> restarts;
    std::thread restartThread;
    if (options.awaitRestartMinutes) {
        RestartWatchSettings watchSettings;
        watchSettings.bound = std::chrono::minutes(*options.awaitRestartMinutes);
        restarts.emplace(*probes, watchSettings, restartClock, watch, restartStop);
        restartThread = std::thread([&restarts] { restarts->Run(); });
    }
    watch.Attach(fleet, restarts ? &*restarts : nullptr);
    console.OnInterrupt([&fleet, &table, &restartStop] {
        restartStop.Request();
        const StopAnswer answer = fleet.RequestStop();
        if (!answer.repeated) table.Notice(TEXT_FLEET_STOPPING);
        if (answer.busy > 0) {
            std::string text = TEXT_FLEET_WAITING_BUSY_FORMAT;
            text.replace(text.find("%1"), 2, std::to_string(answer.busy));
            table.Notice(text);
        }
    });
    if (options.json) events.Plan(header, fleet.Snapshot(), false);
    table.Start(fleet.Snapshot());
    report.SaveOrTell(fleet.Snapshot());
    fleet.Run();
    if (restarts) {
        restarts->Close();
        restartThread.join();
    }
    console.OnInterrupt([] {});  // the fleet is over: nothing is left to stop
    const std::vector<FleetEntry> entries = fleet.Snapshot();
    table.Finish(entries);
    const int status = report.Finish(entries, FleetExitStatus(entries));
    if (options.json) events.End(report.header(), entries);
    console.Finished();  // a console being closed may let the process end now
    return status;
}
