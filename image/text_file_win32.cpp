// Reading a text file on Windows: the UTF-8 path through CreateFileW, then the open
// handle is asked what it is, so that the answer is about the file that is read.
#include "image/text_file.h"

#include <windows.h>

#include <optional>

#include "image/wide_path_win32.h"

namespace quorsel {

namespace {

// Closes a handle exactly once.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::string Why(const std::string& path, DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) {
        return path + ": no such file";
    }
    return path + ": cannot be read (Windows error " + std::to_string(error) + ")";
}

}  // namespace

Result<std::string, std::string> ReadTextFile(const std::string& path) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) return Fail(path + ": not a usable file name");
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Fail(path + ": is a folder, not a file");
    }
    const Handle file(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return Fail(path + ": is a folder, not a file");
        }
        return Fail(Why(path, error));
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return Fail(path + ": is not a regular file");
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return Fail(Why(path, ::GetLastError()));
    if (static_cast<uint64_t>(size.QuadPart) > TEXT_FILE_MAX_BYTES) {
        return Fail(path + ": larger than " + std::to_string(TEXT_FILE_MAX_BYTES) + " bytes");
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return Fail(Why(path, ::GetLastError()));
        if (got == 0) break;
        text.append(buffer, got);
        if (text.size() > TEXT_FILE_MAX_BYTES) {
            return Fail(path + ": larger than " + std::to_string(TEXT_FILE_MAX_BYTES) + " bytes");
        }
    }
    return text;
}

}  // namespace quorsel
