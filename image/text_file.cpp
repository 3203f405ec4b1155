#include "image/text_file.h"

#include <filesystem>
#include <system_error>

#include "image/file_stream.h"

namespace quorsel {

Result<std::string, std::string> ReadTextFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::path fsPath(std::u8string(path.begin(), path.end()));
    if (std::filesystem::is_directory(fsPath, error)) return Fail(path + ": is a directory");
    if (!std::filesystem::exists(fsPath, error)) return Fail(path + ": not found");
    std::optional<FileStream> stream = FileStream::Open(path);
    if (!stream) return Fail(path + ": cannot be read");
    std::string text;
    uint8_t buffer[4096];
    for (;;) {
        const size_t got = stream->Read(buffer, sizeof buffer);
        if (got == 0) break;
        text.append(reinterpret_cast<const char*>(buffer), got);
    }
    return text;
}

}  // namespace quorsel
