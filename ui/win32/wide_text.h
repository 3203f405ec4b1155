// Texts for the wide (W) interfaces, which show them alike whatever the system's
// ANSI code page: the program's texts in UTF-16, and the explicit code page 932
// forms of what the access point receives as bytes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace quorsel {

// A text of res/texts.h in its generated UTF-16 form; any other UTF-8 text (a
// filled format, a file name) converted, a malformed sequence shown as U+FFFD.
std::wstring WideText(std::string_view utf8);

// The text of a window (a control, a dialog) in UTF-16.
std::wstring WindowTextOf(HWND window);

// Code page 932 bytes of a UTF-16 text, without best-fit substitutes: a character
// the code page cannot hold becomes '?'.
std::string Cp932Lossy(std::wstring_view wide);
// UTF-16 of code page 932 bytes.
std::wstring WideFromCp932(std::string_view bytes);

}  // namespace quorsel
