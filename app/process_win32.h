// The process's own command line and executable on Windows.
#pragma once

#include <optional>
#include <string>

namespace quorsel {

// The command-line text the parser reads: GetCommandLineA's text as the system
// keeps it (program path, usually quoted, then the arguments), in the ANSI code
// page. The container is read from the running file (RunningExecutablePath); the
// program path in this text serves only when the system cannot name that file.
std::string ProcessCommandLine();

// The path of the running executable (GetModuleFileNameW) as UTF-8, whatever
// folder it was started from and however its name is spelled; nullopt when the
// system does not give it.
std::optional<std::string> RunningExecutablePath();

}  // namespace quorsel
