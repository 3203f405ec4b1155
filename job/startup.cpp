#include "job/startup.h"

#include "job/command_line.h"
#include "res/texts.h"

namespace quorsel {

int RunStartup(StartupFrontend& frontend, Network& network, std::string_view commandLine,
               const std::string& executablePath, const PeerTimeouts& timeouts, RunLog* log) {
    {
        SocketLibrarySession sockets(network);
        if (!sockets.started()) {
            frontend.ShowStartupError(TEXT_SOCKET_INIT_FAILED);
            return EXIT_SOCKET_LAYER;
        }
    }

    UpdateJob job;  // defaults: LAN, "192.168.1.254", COM1, 115200, regions 4 and 5
    std::string programPath;
    std::string problem;
    int parsed = ParseCommandLine(commandLine, job, programPath, &problem);
    if (parsed == COMMAND_LINE_INVALID) {
        frontend.ShowStartupError(TEXT_INVALID_ARGUMENTS);
        frontend.ShowArgumentProblem(problem);
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
    RunSettings settings = RunSettingsFor(job, executablePath.empty() ? programPath : executablePath, timeouts);
    settings.log = log;
    return frontend.RunProgress(job, settings);
}

}  // namespace quorsel
