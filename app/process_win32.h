// The process's own command line on Windows.
#pragma once

#include <string>

namespace quorsel {

// The command-line text the parser reads: GetCommandLineA's text as the system
// keeps it (program path, usually quoted, then the arguments), in the ANSI code
// page. The container is read from the path the parser takes out of it (with
// ".exe" appended when missing), so no separate executable path is needed.
std::string ProcessCommandLine();

}  // namespace quorsel
