// The program's message boxes, shown through the wide (W) interface.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quorsel {

// Sets the caption of every later message box: the application's title, the name of
// the running file (programPath, UTF-8) without its folders and extension. Called
// once, before the first dialog.
void SetApplicationTitle(std::string_view programPath);

// A message box with an OK button and the application's title as caption; text is
// UTF-8 (a text of res/texts.h, or one filled from it). icon is MB_ICONINFORMATION,
// MB_ICONEXCLAMATION or 0 (none).
void ShowMessageBox(HWND owner, std::string_view text, UINT icon);

}  // namespace quorsel
