#include "ui/win32/message_box.h"

#include <optional>

#include "texts_cp932.h"

namespace quorsel {

std::string AnsiText(std::string_view utf8) {
    if (std::optional<std::string> bytes = TextToCp932(utf8)) return *bytes;
    // Not one of the program's texts: keep the ASCII, mark everything else.
    std::string out;
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) out.push_back(c);
        else if ((byte & 0xC0) != 0x80) out.push_back('?');
    }
    return out;
}

std::string ApplicationTitle() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length);
    size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

void ShowMessageBox(HWND owner, const std::string& ansiText, UINT icon) {
    static const std::string title = ApplicationTitle();
    MessageBoxA(owner, ansiText.c_str(), title.c_str(), MB_OK | icon);
}

}  // namespace quorsel
