#include "ui/win32/power_on_dialog.h"

#include "res/resource_ids.h"
#include "res/texts.h"
#include "ui/win32/message_box.h"

namespace quorsel {

namespace {

DWORD WINAPI StopWait(LPVOID wait) {
    static_cast<PowerOnWait*>(wait)->Stop();
    return 0;
}

// Ends the wait while this thread keeps answering sent messages: the wait's worker
// may be inside its report, sending a command to this thread, and Stop() waits for
// that report to finish.
void StopWhileAnswering(PowerOnWait& wait) {
    HANDLE stopper = CreateThread(nullptr, 0, &StopWait, &wait, 0, nullptr);
    if (stopper == nullptr) {
        wait.Stop();
        return;
    }
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &stopper, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken != WAIT_OBJECT_0 + 1) break;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(stopper);
}

}  // namespace

PowerOnDialog::PowerOnDialog(HINSTANCE instance, PowerOnWait& wait)
    : ModalDialog(instance, RES_POWER_ON_DIALOG), wait_(wait) {}

PowerOnDialog::~PowerOnDialog() = default;

bool PowerOnDialog::OnInitDialog() {
    firstPaint_ = true;
    return true;  // the focus goes to Cancel, the first tab stop
}

bool PowerOnDialog::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR&) {
    if (message != WM_PAINT) return false;
    OnPaint();
    return true;
}

void PowerOnDialog::OnPaint() {
    PAINTSTRUCT paint;
    BeginPaint(window(), &paint);
    EndPaint(window(), &paint);
    if (!firstPaint_) return;
    firstPaint_ = false;
    // Later paints start nothing: one prompt has at most one worker.
    HWND prompt = window();
    wait_.Start([prompt](PowerOnEvent event) { Report(prompt, event); });
}

void PowerOnDialog::Report(HWND prompt, PowerOnEvent event) {
    // Runs on the wait's worker. A prompt the user has already ended is a window
    // that no longer exists: the command to it goes nowhere, and the wait is
    // stopped right after, so nothing later reaches it.
    switch (event) {
        case PowerOnEvent::Answered:
            SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return;
        case PowerOnEvent::OpenFailed:
            ShowMessageBox(prompt, TEXT_PORT_OPEN_ERROR, 0);
            break;
        case PowerOnEvent::SetupFailed:
            ShowMessageBox(prompt, TEXT_PORT_SETUP_ERROR, 0);
            break;
    }
    SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

bool RunPowerOnPrompt(HINSTANCE instance, HWND owner, PowerOnWait& wait) {
    INT_PTR result = IDCANCEL;
    {
        PowerOnDialog prompt(instance, wait);
        result = prompt.DoModal(owner);
        StopWhileAnswering(wait);
    }
    return result == IDOK;
}

}  // namespace quorsel
