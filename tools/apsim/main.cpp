// quorsel-apsim: a simulated access point that serves the LAN update protocol, or
// plays its boot code and loader on a serial line (a pseudo-terminal), and keeps
// what it is sent in a flash image file.
#include <cstdio>
#include <optional>
#include <string>

#include "tools/apsim/access_point.h"
#include "tools/apsim/event_log.h"
#include "tools/apsim/flash_store.h"
#include "tools/apsim/lan_service.h"
#include "tools/apsim/options.h"
#include "tools/apsim/pty_posix.h"
#include "tools/apsim/serial_service.h"
#include "tools/apsim/stop_signal.h"
#include "tools/apsim/tcp.h"

namespace {

constexpr int EXIT_SETUP_FAILED = 1;
constexpr int EXIT_USAGE = 2;

int Usage(const std::string& message) {
    std::fprintf(stderr, "quorsel-apsim: %s\n", message.c_str());
    return EXIT_USAGE;
}

// The serial side: a pseudo-terminal whose slave device the updater opens.
int RunSerial(const quorsel::apsim::Options& options, const quorsel::apsim::AccessPoint& accessPoint,
              quorsel::apsim::FlashStore* flash) {
    using namespace quorsel::apsim;
    auto pty = PtyMaster::Open();
    if (!pty) {
        LogEvent(pty.error());
        return EXIT_SETUP_FAILED;
    }
    std::optional<DeviceLink> link;
    if (!options.serialOptions.linkPath.empty()) {
        auto created = DeviceLink::Create(options.serialOptions.linkPath, pty->slavePath());
        if (!created) {
            LogEvent(created.error());
            return EXIT_SETUP_FAILED;
        }
        link.emplace(std::move(created.value()));
    }
    // The first line on stdout is the device, once it (and its link) can be opened.
    std::printf("%s\n", pty->slavePath().c_str());
    std::fflush(stdout);

    const SerialOptions& serial = options.serialOptions;
    char flashSizeText[32];
    std::snprintf(flashSizeText, sizeof flashSizeText, "0x%x", accessPoint.flashSize);
    LogEvent("serial line " + pty->slavePath() +
             (link ? " (linked as " + serial.linkPath + ")" : std::string()) + " as " + accessPoint.model +
             ": \"*\" after " + std::to_string(serial.wakeAfter) + " \"X\", loader " +
             std::to_string(serial.loaderLength) + " bytes, " +
             (serial.baudRate != 0 ? std::to_string(serial.baudRate) + " baud" : std::string("unpaced")) +
             ", flash " + flashSizeText + " bytes" + (flash ? " in " + flash->path() : std::string(", not stored")));
    LogEvent("faults: " + serial.faults.Describe());

    SerialServiceConfig config;
    config.accessPoint = accessPoint;
    config.flash = flash;
    config.line = serial;
    config.idleTimeout = options.idleTimeout;
    config.silentHold = options.silentHold;
    config.exitAfterRanges = options.exitAfterRanges;
    return RunSerialService(pty.value(), config);
}

// The LAN side: a listener on the given address and port.
int RunLan(const quorsel::apsim::Options& options, const quorsel::apsim::AccessPoint& accessPoint,
           quorsel::apsim::FlashStore* flash) {
    using namespace quorsel::apsim;
    auto listener = TcpListener::Open(options.listenAddress, options.port);
    if (!listener) {
        LogEvent(listener.error());
        return EXIT_SETUP_FAILED;
    }
    // The first line on stdout is the port, for whoever started the simulator with port 0.
    std::printf("%u\n", static_cast<unsigned>(listener->port()));
    std::fflush(stdout);

    char flashSizeText[32];
    std::snprintf(flashSizeText, sizeof flashSizeText, "0x%x", accessPoint.flashSize);
    LogEvent("listening on " + options.listenAddress + ":" + std::to_string(listener->port()) + " as " +
             accessPoint.model + " generation " + accessPoint.generation + " (" +
             (accessPoint.NewGeneration() ? "new: 20-byte header, password, stored bytes"
                                          : "old: 16-byte header, plain bytes") +
             "), flash " + flashSizeText + " bytes" + (flash ? " in " + flash->path() : std::string(", not stored")));
    LogEvent("faults: " + options.faults.Describe());

    LanServiceConfig config;
    config.accessPoint = accessPoint;
    config.flash = flash;
    config.idleTimeout = options.idleTimeout;
    config.silentHold = options.silentHold;
    config.erasePause = options.erasePause;
    config.blockPause = options.blockPause;
    config.lineEnd = options.lineEnd;
    config.faults = options.faults;
    config.exitAfterRanges = options.exitAfterRanges;
    config.maxConnections = options.maxConnections;
    config.restartPause = options.restartPause;
    return RunLanService(listener.value(), config);
}

}  // namespace

// Parse the options, compose the access point and its flash store, run one side.
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
    if (options.serial) return RunSerial(options, accessPoint.value(), flash ? &*flash : nullptr);

    return RunLan(options, accessPoint.value(), flash ? &*flash : nullptr);
}
