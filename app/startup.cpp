#include "app/startup.h"

#include "app/command_line.h"
#include "res/texts.h"

namespace quorsel {

int ExitStatusFor(StatusCode finalCode) {
    if (finalCode == STATUS_COMPLETE) return EXIT_COMPLETED;
    if (finalCode == STATUS_NONE) return EXIT_USER_ENDED;
    return static_cast<int>(finalCode) - 256;
}

RunSettings RunSettingsFor(const UpdateJob& job, const std::string& programPath, const PeerTimeouts& timeouts) {
    RunSettings settings;
    settings.transport = job.transport == TRANSPORT_SERIAL ? TRANSPORT_SERIAL : TRANSPORT_LAN;
    settings.optionFlags = job.optionFlags;
    settings.peer.port = job.tcpPort;
    settings.peer.address = job.address;
    settings.comIndex = job.comIndex;
    settings.baudRate = job.baudRate;
    settings.programPath = programPath;
    settings.timeouts = timeouts;
    return settings;
}

int RunStartup(StartupFrontend& frontend, Network& network, std::string_view commandLine,
               const std::string& executablePath) {
    {
        SocketLibrarySession sockets(network);
        if (!sockets.started()) {
            frontend.ShowStartupError(TEXT_SOCKET_INIT_FAILED);
            return EXIT_SOCKET_LAYER;
        }
    }

    UpdateJob job;  // defaults: LAN, "192.168.1.254", COM1, 115200, regions 4 and 5
    std::string programPath;
    int parsed = ParseCommandLine(commandLine, job, programPath);
    if (parsed == COMMAND_LINE_INVALID) {
        frontend.ShowStartupError(TEXT_INVALID_ARGUMENTS);
        return EXIT_INVALID_ARGUMENTS;
    }
    if (parsed == COMMAND_LINE_ASK) {
        for (;;) {
            if (!frontend.AskSettings(job)) return EXIT_USER_ENDED;
            if (job.transport == TRANSPORT_SERIAL) break;
            job.tcpPort = {};
            job.address = {};
            if (ParseDottedAddress(job.addressText, job.address)) break;
        }
    }
    if (!ParseDottedAddress(job.addressText, job.address)) job.address = {};
    job.tcpPort = {static_cast<uint8_t>(LAN_UPDATE_PORT >> 8), static_cast<uint8_t>(LAN_UPDATE_PORT & 0xFF)};

    // Where the platform names the running file itself (Linux executables carry no
    // ".exe"), the container is read from that file.
    return frontend.RunProgress(job, executablePath.empty() ? programPath : executablePath);
}

}  // namespace quorsel
