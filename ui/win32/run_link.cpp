#include "ui/win32/run_link.h"

#include <cstdio>

#include "ui/win32/password_dialog.h"
#include "ui/win32/power_on_dialog.h"
#include "ui/win32/progress_dialog.h"

namespace quorsel {

void RunLink::Notify(StatusCode code, const TransferCounters& counters) {
    dialog_.statusHandOver().Send(dialog_.window(), code, counters);
}

void RunLink::Post(StatusCode code, const TransferCounters& counters) {
    dialog_.statusHandOver().Post(dialog_.window(), code, counters);
}

void RunLink::Diagnose(const std::string& line) {
    std::fprintf(stderr, "quorsel: %s\n", line.c_str());
    std::fflush(stderr);
}

std::optional<std::string> RunLink::AskPassword() {
    PasswordDialog prompt(instance_);
    if (prompt.DoModal(nullptr) != IDOK) return std::nullopt;
    return prompt.password;
}

bool RunLink::Show(PowerOnWait& wait) { return RunPowerOnPrompt(instance_, dialog_.window(), wait); }

}  // namespace quorsel
