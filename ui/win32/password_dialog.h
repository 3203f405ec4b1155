// The password dialog (131), shown on the run's worker thread.
#pragma once

#include <windows.h>

#include <string>

#include "ui/win32/modal_dialog.h"

namespace quorsel {

class PasswordDialog : public ModalDialog {
public:
    explicit PasswordDialog(HINSTANCE instance);
    ~PasswordDialog() override;

    // After OK: the entered password, code page 932 bytes, at most 15.
    std::string password;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
};

}  // namespace quorsel
