// quorsel: the firmware updater. Reads the firmware container appended to its own
// file and writes it to the access point over the LAN or a serial line.
#include <optional>
#include <string>

#include "app/desktop_launch.h"
#include "app/process_posix.h"
#include "job/startup.h"
#include "job/timeouts_from_environment.h"
#include "engine/posix_network.h"
#include "engine/serial_line_posix.h"
#include "ui/terminal/console_posix.h"
#include "ui/terminal/terminal_frontend.h"

int main(int argc, char** argv) {
    using namespace quorsel;
    std::string commandLine = CommandLineFromArguments(argc, argv);
    std::string executable = RunningExecutablePath().value_or(std::string());
    PeerTimeouts timeouts = TimeoutsFromEnvironment();

    PosixNetwork network;
    PosixSerialPorts serialPorts;
    // The desktop front-end is a module of its own, loaded only when a display is
    // usable: quorsel itself never needs Qt.
    if (std::optional<int> status =
            RunDesktopModule(argc, argv, network, serialPorts, timeouts, commandLine, executable)) {
        return *status;
    }
    Console console;
    TerminalFrontend frontend(console, network, serialPorts);
    return RunStartup(frontend, network, commandLine, executable, timeouts);
}
