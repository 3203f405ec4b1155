#include "ui/win32/password_dialog.h"

#include <string>
#include <vector>

#include "res/resource_ids.h"
#include "res/texts.h"
#include "ui/win32/message_box.h"

namespace quorsel {

namespace {

constexpr int PASSWORD_MAX = 15;

}  // namespace

PasswordDialog::PasswordDialog(HINSTANCE instance) : ModalDialog(instance, RES_PASSWORD_DIALOG) {}

PasswordDialog::~PasswordDialog() = default;

bool PasswordDialog::OnInitDialog() {
    // Loading direction of the data exchange: the field's (empty) text, then the limit.
    SetDlgItemTextA(window(), CTL_ADDRESS_EDIT, password.c_str());
    SendDlgItemMessageA(window(), CTL_ADDRESS_EDIT, EM_LIMITTEXT, PASSWORD_MAX, 0);
    SetFocus(Item(CTL_ADDRESS_EDIT));
    return false;  // the focus has been set
}

void PasswordDialog::OnOK() {
    HWND edit = Item(CTL_ADDRESS_EDIT);
    int length = GetWindowTextLengthA(edit);
    std::vector<char> text(static_cast<size_t>(length) + 1);
    GetWindowTextA(edit, text.data(), length + 1);
    std::string entered(text.data());
    if (entered.size() > static_cast<size_t>(PASSWORD_MAX)) {
        // Only text put into the edit from outside gets past its limit.
        std::string message = AnsiText(TEXT_PASSWORD_TOO_LONG_FORMAT);
        message.replace(message.find("%1"), 2, std::to_string(PASSWORD_MAX));
        ShowMessageBox(window(), message, MB_ICONEXCLAMATION);
        SetFocus(edit);
        return;
    }
    password = entered;
    ModalDialog::OnOK();
}

}  // namespace quorsel
