// The entry point of the desktop module (quorsel-desktop.so), kept free of Qt so
// that quorsel can load the module with dlopen without linking Qt itself.
//
// quorsel looks the entry up by its versioned name; a module of another interface
// version has no such symbol and is not used. Both sides are built together, so the
// services are handed over as C++ references in one small record whose size and
// version the module checks before it does anything.
#pragma once

#include <cstdint>

#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/search/probe_network.h"
#include "engine/run_log.h"
#include "engine/serial_line.h"

namespace quorsel {

constexpr uint32_t DESKTOP_MODULE_INTERFACE = 3;
constexpr const char* DESKTOP_MODULE_FILE = "quorsel-desktop.so";
constexpr const char* DESKTOP_MODULE_ENTRY = "quorsel_desktop_run_v2";
// What the entry returns when it does not take the services it was given (another
// size or version of DesktopServices): nothing has been shown, the caller goes on
// with the terminal. No exit status of the updater is negative.
constexpr int DESKTOP_MODULE_REFUSED = -1;

// The services RunDesktop takes.
struct DesktopServices {
    uint32_t size;       // sizeof(DesktopServices) on the caller's side
    uint32_t version;    // DESKTOP_MODULE_INTERFACE on the caller's side
    int argc;
    char** argv;
    Network* network;
    SerialPorts* serialPorts;
    const PeerTimeouts* timeouts;
    const char* commandLine;     // zero-terminated
    const char* executablePath;  // zero-terminated, may be empty
    ProbeNetwork* probeNetwork;  // the sockets of the search for access points
    const char* firmwareModel;   // zero-terminated model code of the firmware file; empty when unreadable
    RunLog* runLog;              // the run log; may be null (no log)
};

}  // namespace quorsel

extern "C" {
// Runs the desktop front-end's whole start-up; the process exit status, or
// DESKTOP_MODULE_REFUSED. Never throws. quorsel only looks it up by name
// (DESKTOP_MODULE_ENTRY) and calls it through a pointer of this type.
int quorsel_desktop_run_v2(const quorsel::DesktopServices* services) noexcept;
}
