#include "ui/win32/progress_dialog.h"

#include <commctrl.h>

#include <cstdio>

#include "job/exit_status.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "ui/win32/message_box.h"
#include "ui/win32/wide_text.h"

namespace quorsel {

namespace {

// The timer that draws the bar after it has moved.
constexpr UINT_PTR BAR_PAINT_TIMER = 1;
// The bar is drawn at most this often while the blocks go out (milliseconds).
constexpr UINT BAR_PAINT_INTERVAL_MS = 40;

}  // namespace

ProgressDialog::ProgressDialog(HINSTANCE instance, std::array<uint8_t, 4> address)
    : ModalDialog(instance, RES_PROGRESS_DIALOG),
      model_(address),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(RES_APP_ICON))) {}

ProgressDialog::~ProgressDialog() = default;

bool ProgressDialog::OnInitDialog() {
    SendMessageW(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
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
        case WM_TIMER:
            if (wParam != BAR_PAINT_TIMER) return false;
            OnBarPaintTimer();
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
    runStarted_ = true;
    model_.Start();  // "準備中", not busy
    SetDlgItemTextW(window(), CTL_STATUS_LINE, WideText(model_.state().statusText).c_str());
    if (runStarter_) runStarter_();
}

int ProgressDialog::BarPixel() const {
    const ProgressState& state = model_.state();
    if (state.barRange == 0) return 0;
    const uint64_t pos = state.barPos < state.barRange ? state.barPos : state.barRange;
    return static_cast<int>(pos * static_cast<uint64_t>(barWidth_) / state.barRange);
}

void ProgressDialog::BarUpdate() {
    // The control counts in pixels of its own width: the model's position shown at
    // the nearest pixel below, as the control would draw it.
    HWND bar = Item(CTL_PROGRESS_BAR);
    if (barWidth_ == 0) {
        RECT client{};
        GetClientRect(bar, &client);
        barWidth_ = client.right > client.left ? client.right - client.left : 1;
        SendMessageW(bar, PBM_SETRANGE32, 0, barWidth_);
    }
    shownPixel_ = BarPixel();
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(shownPixel_), 0);
}

void ProgressDialog::MoveBar() {
    // A block that does not move the bar by a pixel changes nothing on the screen.
    // Under Wine every change of the control costs several server round trips and
    // its drawing about a millisecond, while a block takes a fraction of that on the
    // wire, and the worker waits for this handler. So a block only moves the model's
    // position, and the timer brings the control there, at most every
    // BAR_PAINT_INTERVAL_MS.
    if (barPaintDue_ || BarPixel() == shownPixel_) return;
    barPaintDue_ = SetTimer(window(), BAR_PAINT_TIMER, BAR_PAINT_INTERVAL_MS, nullptr) != 0;
    if (!barPaintDue_) BarUpdate();
}

void ProgressDialog::OnBarPaintTimer() {
    KillTimer(window(), BAR_PAINT_TIMER);
    barPaintDue_ = false;
    BarUpdate();
}

void ProgressDialog::ShowStatus() {
    TransferCounters counters;
    const StatusCode code = handOver_.Take(counters);
    if (code == STATUS_NONE) return;
    Apply(code, counters);
    handOver_.Done();
}

void ProgressDialog::Apply(StatusCode code, const TransferCounters& counters) {
    StatusEffect effect = model_.Apply(code, counters);
    // A block's progress: the bar moves, nothing else.
    if (effect.barChanged && !effect.busyChanged && !effect.textChanged && !effect.completionBox &&
        !effect.finished) {
        MoveBar();
        return;
    }
    const ProgressState& state = model_.state();
    if (effect.busyChanged && !effect.finished) EnableWindow(Item(IDCANCEL), state.cancelEnabled ? TRUE : FALSE);
    if (effect.barChanged) BarUpdate();
    if (effect.textChanged) SetDlgItemTextW(window(), CTL_STATUS_LINE, WideText(state.statusText).c_str());
    if (effect.completionBox) ShowMessageBox(window(), TEXT_COMPLETION_BOX, MB_ICONINFORMATION);
    if (effect.finished) {
        EnableWindow(Item(IDCANCEL), TRUE);
        ShowWindow(Item(IDOK), SW_SHOW);
        SendMessageW(window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDOK)), TRUE);
    }
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
