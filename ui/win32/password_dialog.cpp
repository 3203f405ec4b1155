#include "ui/win32/password_dialog.h"

#include <optional>
#include <string>

#include "image/text_encoding.h"
#include "image/wide_path_win32.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "ui/win32/message_box.h"
#include "ui/win32/wide_text.h"

namespace quorsel {

namespace {

constexpr int PASSWORD_MAX = 15;

}  // namespace

PasswordDialog::PasswordDialog(HINSTANCE instance) : ModalDialog(instance, RES_PASSWORD_DIALOG) {}

PasswordDialog::~PasswordDialog() = default;

bool PasswordDialog::OnInitDialog() {
    // Loading direction of the data exchange: the field's (empty) text, then the limit
    // (characters: the edit is a Unicode one).
    SetDlgItemTextW(window(), CTL_ADDRESS_EDIT, WideFromCp932(password).c_str());
    SendDlgItemMessageW(window(), CTL_ADDRESS_EDIT, EM_LIMITTEXT, PASSWORD_MAX, 0);
    SetFocus(Item(CTL_ADDRESS_EDIT));
    return false;  // the focus has been set
}

void PasswordDialog::OnOK() {
    // The entry is read as UTF-16 and turned into code page 932 explicitly, so its
    // bytes (and the digest over them) are the same on every Windows: a character
    // the code page cannot hold, or more than 15 bytes (15 characters of which some
    // take two bytes), is refused and the user corrects the entry.
    HWND edit = Item(CTL_ADDRESS_EDIT);
    const std::optional<std::string> utf8 = Utf8Path(WindowTextOf(edit));
    const std::optional<std::string> bytes = utf8 ? Utf8ToCp932(*utf8) : std::nullopt;
    std::string problem;
    if (!bytes) {
        problem = TEXT_PASSWORD_BAD_CHARACTER;
    } else if (bytes->size() > static_cast<size_t>(PASSWORD_MAX)) {
        problem = TEXT_PASSWORD_TOO_LONG_FORMAT;
        problem.replace(problem.find("%1"), 2, std::to_string(PASSWORD_MAX));
    }
    if (!problem.empty()) {
        ShowMessageBox(window(), problem, MB_ICONEXCLAMATION);
        SetFocus(edit);
        return;
    }
    password = *bytes;
    ModalDialog::OnOK();
}

}  // namespace quorsel
