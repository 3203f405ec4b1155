// The flash image file through POSIX file calls: pwrite at an offset and fsync.
#include "tools/apsim/flash_store.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorsel::apsim {

namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Writes all n bytes at offset, going on after short writes and interruptions.
bool WriteAllAt(int fd, const uint8_t* data, size_t n, off_t offset) {
    while (n > 0) {
        ssize_t written = ::pwrite(fd, data, n, offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        data += written;
        n -= static_cast<size_t>(written);
        offset += written;
    }
    return true;
}

bool SyncFile(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace

Result<FlashStore, std::string> FlashStore::Open(const std::string& path, uint32_t size) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(ErrnoText("cannot open flash file", path));
    // From here on the store owns fd, so every early return closes it.
    FlashStore store(fd, path, size);

    struct stat info {};
    if (::fstat(fd, &info) != 0) return Fail(ErrnoText("cannot inspect flash file", path));
    if (!S_ISREG(info.st_mode)) return Fail("flash file " + path + " is not a regular file");

    const off_t wanted = static_cast<off_t>(size);
    if (info.st_size < wanted) {
        // Fill the missing part with erased bytes, one chunk at a time.
        const std::vector<uint8_t> erased(64 * 1024, ERASED_BYTE);
        off_t offset = info.st_size;
        while (offset < wanted) {
            size_t chunk = static_cast<size_t>(std::min<off_t>(wanted - offset, static_cast<off_t>(erased.size())));
            if (!WriteAllAt(fd, erased.data(), chunk, offset)) {
                return Fail(ErrnoText("cannot extend flash file", path));
            }
            offset += static_cast<off_t>(chunk);
        }
        if (!SyncFile(fd)) return Fail(ErrnoText("cannot sync flash file", path));
    }
    return store;
}

FlashStore::FlashStore(FlashStore&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), size_(other.size_) {
    other.fd_ = -1;
}

FlashStore& FlashStore::operator=(FlashStore&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

FlashStore::~FlashStore() { Close(); }

void FlashStore::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Result<bool, std::string> FlashStore::Write(uint32_t offset, const uint8_t* data, size_t n) {
    if (fd_ < 0) return Fail(std::string("flash file is not open"));
    if (!WriteAllAt(fd_, data, n, static_cast<off_t>(offset))) return Fail(ErrnoText("cannot write flash file", path_));
    if (!SyncFile(fd_)) return Fail(ErrnoText("cannot sync flash file", path_));
    return true;
}

}  // namespace quorsel::apsim
