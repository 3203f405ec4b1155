#include "ui/win32/progress_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "job/exit_status.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "ui/win32/message_box.h"

namespace quorsel {

ProgressDialog::ProgressDialog(HINSTANCE instance, std::array<uint8_t, 4> address)
    : ModalDialog(instance, RES_PROGRESS_DIALOG),
      model_(address),
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(RES_APP_ICON))) {}

ProgressDialog::~ProgressDialog() = default;

bool ProgressDialog::OnInitDialog() {
    SendMessageA(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    ShowWindow(Item(IDOK), SW_HIDE);
    firstPaint_ = true;  // the model starts with the bar at 0 of 100
    return true;
}

bool ProgressDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR&) {
    switch (message) {
        case WM_PAINT:
            OnPaint();
            return true;
        case WM_COMMAND:
            if (LOWORD(wParam) != CTL_STATUS_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
            ShowStatus();
            return true;
        case WM_CLOSE:
            OnClose();
            return true;
        default:
            return false;
    }
}

void ProgressDialog::OnPaint() {
    PAINTSTRUCT paint;
    BeginPaint(window(), &paint);
    EndPaint(window(), &paint);
    BarUpdate();
    if (!firstPaint_) return;
    firstPaint_ = false;
    StartRun();
}

void ProgressDialog::StartRun() {
    pendingCode = STATUS_NONE;
    runStarted_ = true;
    model_.Start();  // "準備中", not busy
    SetDlgItemTextA(window(), CTL_STATUS_LINE, AnsiText(model_.state().statusText).c_str());
    if (runStarter_) runStarter_();
}

void ProgressDialog::BarUpdate() {
    HWND bar = Item(CTL_PROGRESS_BAR);
    const ProgressState& state = model_.state();
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(static_cast<int>(state.barRange)));
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(static_cast<int>(state.barPos)), 0);
}

void ProgressDialog::ShowStatus() {
    const int code = pendingCode;
    StatusEffect effect = model_.Apply(code, pendingCounters);
    const ProgressState& state = model_.state();
    if (effect.busyChanged && !effect.finished) EnableWindow(Item(IDCANCEL), state.cancelEnabled ? TRUE : FALSE);
    if (effect.barChanged) BarUpdate();
    if (effect.textChanged) SetDlgItemTextA(window(), CTL_STATUS_LINE, AnsiText(state.statusText).c_str());
    if (effect.completionBox) ShowMessageBox(window(), AnsiText(TEXT_COMPLETION_BOX), MB_ICONINFORMATION);
    if (effect.finished) {
        EnableWindow(Item(IDCANCEL), TRUE);
        ShowWindow(Item(IDOK), SW_SHOW);
        SendMessageA(window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDOK)), TRUE);
    }
    pendingCode = STATUS_NONE;
}

void ProgressDialog::OnClose() {
    // While the access point erases or writes, the close box does nothing.
    if (!model_.CloseAllowed()) return;
    End(IDCANCEL);
}

void ProgressDialog::OnCancel() {
    // Escape while Cancel is greyed is ignored like the close box.
    if (!model_.CloseAllowed()) return;
    End(IDCANCEL);
}

void ProgressDialog::OnOK() {
    // OK is shown once the run has ended; before that Enter still reaches it.
    if (!model_.CloseAllowed()) return;
    End(IDOK);
}

void ProgressDialog::End(INT_PTR result) {
    if (runStarted_ && !runEnded()) {
        // The worker may wait on the network, a serial line or a prompt of its own,
        // and is never joined: the program ends here, with what it has written out.
        std::fflush(nullptr);
        TerminateProcess(GetCurrentProcess(), EXIT_USER_ENDED);
    }
    EndDialog(window(), result);
}

}  // namespace quorsel
