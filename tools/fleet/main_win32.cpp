// quorsel-fleet.exe's entry: the arguments come as UTF-16 (wmain) and are turned
// into UTF-8 once, so the firmware file, the report, the password file and an @FILE
// are opened by the names typed whatever the ANSI code page; the console takes the
// UTF-8 texts from before the first one is printed (usage errors included).
#include <cstdio>
#include <optional>

#include "app/process_win32.h"
#include "job/exit_status.h"
#include "res/texts.h"
#include "tools/fleet/fleet_main.h"

int wmain(int argc, wchar_t** argv) {
    using namespace quorsel;
    const Utf8ConsoleOutput console;
    const std::optional<Utf8Arguments> arguments = Utf8Arguments::From(argc, argv);
    if (!arguments) {
        std::fprintf(stderr, "%s: %s\n%s\n", TEXT_INVALID_ARGUMENTS, TEXT_ARGUMENT_NOT_UNICODE, TEXT_FLEET_USAGE);
        return EXIT_INVALID_ARGUMENTS;
    }
    return RunFleetProgram(arguments->count(), arguments->values());
}
