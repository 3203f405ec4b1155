// Stand-ins for a desktop module from another build of quorsel, for the tests of how
// the updater refuses them: one whose entry does not take the services it is given,
// one with the entry of a later interface only.
#include "ui/qt/desktop_module.h"

#ifdef FOREIGN_MODULE_REFUSES
extern "C" __attribute__((visibility("default"))) int quorsel_desktop_run_v2(
    const quorsel::DesktopServices* /*services*/) noexcept {
    return quorsel::DESKTOP_MODULE_REFUSED;
}
#else
extern "C" __attribute__((visibility("default"))) int quorsel_desktop_run_v3(const void* /*services*/) noexcept {
    return 0;
}
#endif
