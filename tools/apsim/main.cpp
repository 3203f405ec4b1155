// quorsel-apsim: a simulated access point that serves the LAN update protocol and
// keeps what it is sent in a flash image file.
#include <cstdio>
#include <optional>
#include <string>

#include "tools/apsim/access_point.h"
#include "tools/apsim/event_log.h"
#include "tools/apsim/flash_store.h"
#include "tools/apsim/lan_service.h"
#include "tools/apsim/options.h"
#include "tools/apsim/stop_signal.h"
#include "tools/apsim/tcp.h"

namespace {

constexpr int EXIT_SETUP_FAILED = 1;
constexpr int EXIT_USAGE = 2;

int Usage(const std::string& message) {
    std::fprintf(stderr, "quorsel-apsim: %s\n", message.c_str());
    return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quorsel::apsim;

    auto parsed = ParseOptions(argc, argv);
    if (!parsed) return Usage(parsed.error());
    const Options& options = parsed.value();
    if (options.showHelp) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    auto accessPoint = MakeAccessPoint(options);
    if (!accessPoint) return Usage(accessPoint.error());

    if (!InstallStopHandlers()) {
        LogEvent("cannot install the signal handlers");
        return EXIT_SETUP_FAILED;
    }

    std::optional<FlashStore> flash;
    if (!options.flashPath.empty()) {
        auto opened = FlashStore::Open(options.flashPath, accessPoint->flashSize);
        if (!opened) {
            LogEvent(opened.error());
            return EXIT_SETUP_FAILED;
        }
        flash.emplace(std::move(opened.value()));
    }

    auto listener = TcpListener::Open(options.listenAddress, options.port);
    if (!listener) {
        LogEvent(listener.error());
        return EXIT_SETUP_FAILED;
    }
    // The first line on stdout is the port, for whoever started the simulator with port 0.
    std::printf("%u\n", static_cast<unsigned>(listener->port()));
    std::fflush(stdout);

    char flashSizeText[32];
    std::snprintf(flashSizeText, sizeof flashSizeText, "0x%x", accessPoint->flashSize);
    LogEvent("listening on " + options.listenAddress + ":" + std::to_string(listener->port()) + " as " +
             accessPoint->model + " generation " + accessPoint->generation + " (" +
             (accessPoint->NewGeneration() ? "new: 20-byte header, password, stored bytes"
                                           : "old: 16-byte header, plain bytes") +
             "), flash " + flashSizeText + " bytes" + (flash ? " in " + flash->path() : std::string(", not stored")));
    LogEvent("faults: " + options.faults.Describe());

    LanServiceConfig config;
    config.accessPoint = accessPoint.value();
    config.flash = flash ? &*flash : nullptr;
    config.idleTimeout = options.idleTimeout;
    config.silentHold = options.silentHold;
    config.lineEnd = options.lineEnd;
    config.faults = options.faults;
    config.exitAfterRanges = options.exitAfterRanges;
    config.maxConnections = options.maxConnections;
    return RunLanService(listener.value(), config);
}
