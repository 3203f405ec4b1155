// quorsel: the firmware updater. Reads the firmware container appended to its own
// file and writes it to the access point over the LAN or a serial line.
#include <cstdlib>
#include <string>

#include "app/process_posix.h"
#include "app/startup.h"
#include "app/timeouts_from_environment.h"
#include "engine/posix_network.h"
#include "engine/serial_line_posix.h"
#include "ui/terminal/console_posix.h"
#include "ui/terminal/terminal_frontend.h"
#ifdef QUORSEL_HAVE_QT
#include "ui/qt/desktop_main.h"
#endif

int main(int argc, char** argv) {
    using namespace quorsel;
    std::string commandLine = CommandLineFromArguments(argc, argv);
    std::string executable = RunningExecutablePath().value_or(std::string());
    PeerTimeouts timeouts = TimeoutsFromEnvironment();

    PosixNetwork network;
    PosixSerialPorts serialPorts;
#ifdef QUORSEL_HAVE_QT
    if (DesktopDisplayAvailable()) {
        return RunDesktop(argc, argv, network, serialPorts, timeouts, commandLine, executable);
    }
#endif
    Console console;
    TerminalFrontend frontend(console, network, serialPorts, timeouts);
    return RunStartup(frontend, network, commandLine, executable);
}
