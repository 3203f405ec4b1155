// Modal dialogs from the resource script: one plain dialog procedure that hands
// each message to the dialog object it belongs to. A class overrides the handlers
// it needs, the way a framework dialog lists its message-map entries.
#pragma once

#include <windows.h>

namespace quorsel {

class ModalDialog {
public:
    ModalDialog(HINSTANCE instance, int resourceId) : instance_(instance), resourceId_(resourceId) {}
    virtual ~ModalDialog() = default;
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Shows the dialog modally on the calling thread, owned by owner (nullptr: none),
    // and returns its result (IDOK, IDCANCEL, or -1 when it could not be created).
    INT_PTR DoModal(HWND owner);
    // The dialog window while it is shown, else nullptr.
    HWND window() const { return window_; }

protected:
    // The dialog-initialisation operation: true lets the dialog manager set the focus.
    virtual bool OnInitDialog() { return true; }
    // Command 1 and command 2 (buttons, Enter, Escape, the close box).
    virtual void OnOK() { EndDialog(window_, IDOK); }
    virtual void OnCancel() { EndDialog(window_, IDCANCEL); }
    // Any other message. Returns true when it was handled, with result set to what
    // the dialog procedure returns for it.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    HWND Item(int id) const { return GetDlgItem(window_, id); }
    HINSTANCE instance() const { return instance_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    int resourceId_;
    HWND window_ = nullptr;
};

}  // namespace quorsel
