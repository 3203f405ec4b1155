// The Win32 desktop front-end: the settings, version, progress, password and
// power-on dialogs built from the resource script, driven by the shared start-up.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "engine/lan_protocol.h"
#include "engine/limits.h"
#include "engine/serial_line.h"
#include "ui/search_runner.h"

namespace quorsel {

// Runs the start-up with the Win32 dialogs and returns the process exit status
// (the same statuses as the other front-ends). commandLine is the whole command
// line as UTF-8 (ProcessCommandLine); executablePath (UTF-8) the running file: the
// container is read from it (when empty, from the path the command line names), and
// its name without folders and extension is the message boxes' caption. search: the
// search behind the settings dialog's system-menu entry.
int RunWin32Frontend(HINSTANCE instance, Network& network, SerialPorts& serialPorts, const PeerTimeouts& timeouts,
                     std::string_view commandLine, const std::string& executablePath, SearchRunner::Search search);

}  // namespace quorsel
