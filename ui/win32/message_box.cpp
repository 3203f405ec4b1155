#include "ui/win32/message_box.h"

#include "ui/program_title.h"
#include "ui/win32/wide_text.h"

namespace quorsel {

namespace {

// Written once by the front-end before its first dialog, read by every box after.
std::wstring& Title() {
    static std::wstring title;
    return title;
}

}  // namespace

void SetApplicationTitle(std::string_view programPath) { Title() = WideText(ProgramTitle(programPath)); }

void ShowMessageBox(HWND owner, std::string_view text, UINT icon) {
    MessageBoxW(owner, WideText(text).c_str(), Title().c_str(), MB_OK | icon);
}

}  // namespace quorsel
