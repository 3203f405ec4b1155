// Reading a text file on a POSIX system: open once, then ask the open file what it
// is, so that the answer is about the file that is read.
#include "image/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quorsel {

namespace {

// Closes a descriptor exactly once.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string Why(const std::string& path, int error) {
    if (error == ENOENT || error == ENOTDIR) return path + ": no such file";
    if (error == EISDIR) return path + ": is a folder, not a file";
    return path + ": cannot be read (" + std::strerror(error) + ")";
}

}  // namespace

Result<std::string, std::string> ReadTextFile(const std::string& path) {
    if (path.empty()) return Fail(std::string("a file name is empty"));
    // O_NONBLOCK: a FIFO given by mistake does not hold the open.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return Fail(Why(path, errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return Fail(Why(path, errno));
    if (S_ISDIR(info.st_mode)) return Fail(Why(path, EISDIR));
    if (!S_ISREG(info.st_mode)) return Fail(path + ": is not a regular file");
    if (static_cast<uint64_t>(info.st_size) > TEXT_FILE_MAX_BYTES) {
        return Fail(path + ": larger than " + std::to_string(TEXT_FILE_MAX_BYTES) + " bytes");
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail(Why(path, errno));
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > TEXT_FILE_MAX_BYTES) {
            return Fail(path + ": larger than " + std::to_string(TEXT_FILE_MAX_BYTES) + " bytes");
        }
    }
    return text;
}

}  // namespace quorsel
