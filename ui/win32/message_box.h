// The program's message boxes, shown through the wide (W) interface.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quorsel {

// The application's title: the running file's name (GetModuleFileNameW) without its
// folders and extension, in UTF-8.
std::string ApplicationTitle();

// A message box with an OK button and the application's title as caption; text is
// UTF-8 (a text of res/texts.h, or one filled from it). icon is MB_ICONINFORMATION,
// MB_ICONEXCLAMATION or 0 (none).
void ShowMessageBox(HWND owner, std::string_view text, UINT icon);

}  // namespace quorsel
