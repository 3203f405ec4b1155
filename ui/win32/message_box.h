// Run-time texts for the ANSI interfaces, and the program's message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quorsel {

// A text of res/texts.h (or one built from their characters, such as the
// connect-failure line) in code page 932. A character no text uses becomes '?'.
std::string AnsiText(std::string_view utf8);

// The application's title: the program file's name without its extension.
std::string ApplicationTitle();

// A message box with an OK button and the application's title as caption.
// icon is MB_ICONINFORMATION, MB_ICONEXCLAMATION or 0 (none).
void ShowMessageBox(HWND owner, const std::string& ansiText, UINT icon);

}  // namespace quorsel
