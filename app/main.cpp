// quorsel: the firmware updater. Reads the firmware container appended to its own
// file and writes it to the access point over the LAN or a serial line.
#include <optional>
#include <string>

#include "app/desktop_launch.h"
#include "app/process_posix.h"
#include "job/startup.h"
#include "job/timeouts_from_environment.h"
#include "engine/posix_network.h"
#include "engine/search/probe_network_posix.h"
#include "engine/run_log.h"
#include "engine/serial_line_posix.h"
#include "engine/serial_port_list.h"
#include "image/container.h"
#include "ui/terminal/console_posix.h"
#include "ui/default_search.h"
#include "ui/range_search.h"
#include "ui/terminal/terminal_frontend.h"

int main(int argc, char** argv) {
    using namespace quorsel;
    std::string commandLine = CommandLineFromArguments(argc, argv);
    std::string executable = RunningExecutablePath().value_or(std::string());
    PeerTimeouts timeouts = TimeoutsFromEnvironment();

    PosixNetwork network;
    PosixSerialPorts serialPorts;
    RunLog runLog(RunLogFolder());
    // The search for access points marks those the firmware this file carries fits.
    PosixProbeNetwork probeNetwork;
    const std::string firmwareModel = ReadFirmwareModel(executable).value_or(std::string());
    // The desktop front-end is a module of its own, loaded only when a display is
    // usable: quorsel itself never needs Qt.
    if (std::optional<int> status =
            RunDesktopModule(argc, argv, network, serialPorts, timeouts, commandLine, executable, probeNetwork,
                             firmwareModel, &runLog)) {
        return *status;
    }
    Console console;
    TerminalFrontend frontend(console, network, serialPorts);
    frontend.SetSearch(DefaultSearch(probeNetwork, firmwareModel));
    frontend.SetTargetSearch(SearchOfTargets(probeNetwork, firmwareModel));
    frontend.SetPortLister(ListSerialPorts);
    return RunStartup(frontend, network, commandLine, executable, timeouts, &runLog);
}
