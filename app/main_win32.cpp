// quorsel.exe: the firmware updater for Windows. Reads the firmware container
// appended to its own file and writes it to the access point over the LAN or a
// serial line, with the Win32 dialogs. Its command line is read as UTF-16 and held
// as UTF-8; the diagnostics it writes to standard error are UTF-8 too.
#include <windows.h>

#include <string>

#include "app/process_win32.h"
#include "job/timeouts_from_environment.h"
#include "engine/network_win32.h"
#include "engine/search/probe_network_win32.h"
#include "engine/serial_line_win32.h"
#include "image/container.h"
#include "ui/default_search.h"
#include "ui/win32/win32_frontend.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*arguments*/, int /*show*/) {
    using namespace quorsel;
    const Utf8ConsoleOutput console;
    const std::string commandLine = ProcessCommandLine();
    // The container is read from the running file itself, wherever it was started from.
    const std::string executable = RunningExecutablePath().value_or(std::string());
    const PeerTimeouts timeouts = TimeoutsFromEnvironment();
    Win32Network network;
    Win32SerialPorts serialPorts;
    // The search for access points marks those the firmware this file carries fits.
    Win32ProbeNetwork probeNetwork;
    const std::string firmwareModel = ReadFirmwareModel(executable).value_or(std::string());
    return RunWin32Frontend(instance, network, serialPorts, timeouts, commandLine, executable,
                            DefaultSearch(probeNetwork, firmwareModel));
}
