#include "ui/win32/message_box.h"

#include "app/process_win32.h"
#include "ui/program_title.h"
#include "ui/win32/wide_text.h"

namespace quorsel {

std::string ApplicationTitle() { return ProgramTitle(RunningExecutablePath().value_or(std::string())); }

void ShowMessageBox(HWND owner, std::string_view text, UINT icon) {
    static const std::wstring title = WideText(ApplicationTitle());
    MessageBoxW(owner, WideText(text).c_str(), title.c_str(), MB_OK | icon);
}

}  // namespace quorsel
