// Replacing an output file in one step: a temporary file in the same directory,
// written, given its mode and synced, then renamed over the target.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tools/pack/file_io.h"

namespace quorsel::pack {
namespace {

std::string ErrnoText() { return std::strerror(errno); }

// Owns the temporary file: closes its descriptor once and removes it unless it was
// renamed into place.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        CloseDescriptor();
        if (!path_.empty() && !committed_) ::unlink(path_.c_str());
    }

    bool Create(const std::string& pathTemplate) {
        std::vector<char> name(pathTemplate.begin(), pathTemplate.end());
        name.push_back('\0');
        fd_ = ::mkstemp(name.data());
        if (fd_ < 0) return false;
        path_ = name.data();
        return true;
    }

    bool WriteAll(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool SetMode(mode_t mode) { return ::fchmod(fd_, mode) == 0; }
    bool Sync() { return ::fsync(fd_) == 0; }

    // Closes the descriptor; false when the close reports a failed write.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

    bool RenameTo(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return false;
        committed_ = true;
        return true;
    }

private:
    void CloseDescriptor() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    std::string path_;
    bool committed_ = false;
};

}  // namespace

std::optional<std::string> ReplaceFile(const std::string& path, const std::vector<uint8_t>& bytes, mode_t mode) {
    const std::filesystem::path target(path);
    const std::string name = target.filename().string();
    if (name.empty() || name == "." || name == "..") return "'" + path + "' does not name a file";
    std::string directory = target.parent_path().string();
    if (directory.empty()) directory = ".";

    TemporaryFile temporary;
    if (!temporary.Create(directory + "/." + name + ".XXXXXX")) {
        return "cannot create a file in '" + directory + "': " + ErrnoText();
    }
    if (!temporary.WriteAll(bytes)) return "cannot write '" + path + "': " + ErrnoText();
    if (!temporary.SetMode(mode)) return "cannot set the mode of '" + path + "': " + ErrnoText();
    if (!temporary.Sync()) return "cannot write '" + path + "': " + ErrnoText();
    if (!temporary.Close()) return "cannot write '" + path + "': " + ErrnoText();
    if (!temporary.RenameTo(path)) return "cannot replace '" + path + "': " + ErrnoText();
    return std::nullopt;
}

}  // namespace quorsel::pack
