// The report's atomic replacement on POSIX: a temporary file next to it, written and
// flushed to the disk, then renamed over it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/fleet/fleet_report.h"

namespace quorsel {

std::optional<std::string> ReplaceFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return temporary + ": " + std::strerror(errno);
    const char* at = text.data();
    size_t left = text.size();
    int error = 0;
    while (left > 0) {
        const ssize_t wrote = ::write(fd, at, left);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            error = wrote < 0 ? errno : ENOSPC;
            break;
        }
        at += wrote;
        left -= static_cast<size_t>(wrote);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return path + ": " + std::strerror(error);
    }
    return std::nullopt;
}

}  // namespace quorsel
