// The power-on prompt (130), shown on the run's worker thread once per range of a
// serial run. On its first paint it starts the power-on wait, whose worker
// (CAPThreadPon) opens the line, wakes the access point and then reports to the
// prompt with command 1 (answered) or, after its message box, command 2 (failed).
#pragma once

#include <windows.h>

#include "engine/power_on_wait.h"
#include "ui/win32/modal_dialog.h"

namespace quorsel {

class PowerOnDialog : public ModalDialog {
public:
    PowerOnDialog(HINSTANCE instance, PowerOnWait& wait);
    ~PowerOnDialog() override;

protected:
    bool OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    // The message map: paint.
    void OnPaint();
    // On the wait's worker: the message box of a failure, then the command.
    static void Report(HWND prompt, PowerOnEvent event);

    PowerOnWait& wait_;
    bool firstPaint_ = false;
};

// Shows the prompt owned by owner and ends the wait before it returns; true when the
// access point answered and the line is ready to be taken from the wait.
bool RunPowerOnPrompt(HINSTANCE instance, HWND owner, PowerOnWait& wait);

}  // namespace quorsel
