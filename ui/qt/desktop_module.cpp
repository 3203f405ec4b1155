// The desktop module's entry point: checks the record it is given and runs the
// desktop front-end with its services.
#include "ui/qt/desktop_module.h"

#include <string>

#include "job/exit_status.h"
#include "ui/qt/desktop_main.h"

extern "C" __attribute__((visibility("default"))) int quorsel_desktop_run_v2(
    const quorsel::DesktopServices* services) noexcept {
    using namespace quorsel;
    if (services == nullptr || services->size != sizeof(DesktopServices) ||
        services->version != DESKTOP_MODULE_INTERFACE || services->network == nullptr ||
        services->serialPorts == nullptr || services->timeouts == nullptr || services->commandLine == nullptr ||
        services->executablePath == nullptr || services->probeNetwork == nullptr ||
        services->firmwareModel == nullptr) {
        return DESKTOP_MODULE_REFUSED;
    }
    // No exception leaves the module; one that reaches this far ends the program
    // the way an ended run does.
    try {
        return RunDesktop(services->argc, services->argv, *services->network, *services->serialPorts,
                          *services->timeouts, services->commandLine, services->executablePath,
                          *services->probeNetwork, services->firmwareModel, services->runLog);
    } catch (...) {
        return EXIT_USER_ENDED;
    }
}
