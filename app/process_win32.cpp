// The process's own command line on Windows.
#include "app/process_win32.h"

#include <windows.h>

namespace quorsel {

std::string ProcessCommandLine() {
    const char* text = ::GetCommandLineA();
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace quorsel
