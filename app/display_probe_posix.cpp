// The display check on X11 (libxcb, loaded at run time) and Wayland (its socket).
#include "app/display_probe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "app/shared_library.h"
#include "engine/limits.h"

namespace quorsel {
namespace {

// libxcb is loaded only when DISPLAY is set, so quorsel needs no X library on a
// machine without a desktop and pays nothing for it at start.
constexpr const char* XCB_LIBRARY = "libxcb.so.1";
struct XcbConnection;
using XcbConnect = XcbConnection* (*)(const char* displayName, int* screen);
using XcbHasError = int (*)(XcbConnection* connection);
using XcbDisconnect = void (*)(XcbConnection* connection);

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return std::nullopt;
    return std::string(value);
}

// One connection attempt to the X server, on a thread of its own so that the wait
// for it is bounded. When the bound passes, start-up goes on without waiting and the
// attempt ends by itself (or with the process); everything it uses is shared with it.
struct XAttempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool connected = false;
};

bool XDisplayUsable(const std::string& display) {
    auto library = SharedLibrary::Open(XCB_LIBRARY);
    if (!library) return false;
    auto connect = reinterpret_cast<XcbConnect>(library->Symbol("xcb_connect"));
    auto hasError = reinterpret_cast<XcbHasError>(library->Symbol("xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<XcbDisconnect>(library->Symbol("xcb_disconnect"));
    if (connect == nullptr || hasError == nullptr || disconnect == nullptr) return false;

    auto attempt = std::make_shared<XAttempt>();
    auto shared = std::make_shared<SharedLibrary>(std::move(*library));
    try {
        std::thread([attempt, shared, display, connect, hasError, disconnect] {
            XcbConnection* connection = connect(display.c_str(), nullptr);
            // xcb_connect always gives a connection object, in an error state when it failed.
            const bool connected = connection != nullptr && hasError(connection) == 0;
            if (connection != nullptr) disconnect(connection);
            std::lock_guard<std::mutex> lock(attempt->mutex);
            attempt->done = true;
            attempt->connected = connected;
            attempt->finished.notify_all();
        }).detach();
    } catch (...) {
        return false;  // no thread: no display
    }
    std::unique_lock<std::mutex> lock(attempt->mutex);
    attempt->finished.wait_for(lock, DISPLAY_CONNECT_TIMEOUT, [&] { return attempt->done; });
    return attempt->done && attempt->connected;
}

class UnixSocket {
public:
    UnixSocket() : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~UnixSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    UnixSocket(const UnixSocket&) = delete;
    UnixSocket& operator=(const UnixSocket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool WaylandDisplayUsable(const std::string& display) {
    std::string path = display;
    if (path[0] != '/') {
        std::optional<std::string> runtimeDir = Variable("XDG_RUNTIME_DIR");
        if (!runtimeDir) return false;
        path = *runtimeDir + "/" + display;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UnixSocket socket;
    if (socket.fd() < 0) return false;
    // A compositor that has gone leaves its socket file behind; only one that
    // listens accepts (a local connect does not wait).
    return ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

void AddName(std::string& names, const char* variable, const std::string& value) {
    if (!names.empty()) names += ", ";
    names += variable;
    names += '=';
    names += value;
}

}  // namespace

DisplayCheck CheckDisplay() {
    DisplayCheck check;
    const std::optional<std::string> x = Variable("DISPLAY");
    const std::optional<std::string> wayland = Variable("WAYLAND_DISPLAY");
    const std::optional<std::string> platform = Variable("QT_QPA_PLATFORM");
    if (x) AddName(check.names, "DISPLAY", *x);
    if (wayland) AddName(check.names, "WAYLAND_DISPLAY", *wayland);
    if (platform) AddName(check.names, "QT_QPA_PLATFORM", *platform);
    check.named = x || wayland || platform;

    // Each display is tried at most once, and only when it may be used.
    std::optional<bool> xUsable, waylandUsable;
    auto tryX = [&] {
        if (!xUsable) xUsable = x && XDisplayUsable(*x);
        return *xUsable;
    };
    auto tryWayland = [&] {
        if (!waylandUsable) waylandUsable = wayland && WaylandDisplayUsable(*wayland);
        return *waylandUsable;
    };

    if (platform) {
        // Qt tries the platforms of a list such as "wayland;xcb" in turn; a name may
        // carry options after ':'.
        std::string_view rest = *platform;
        while (!check.usable && !rest.empty()) {
            const size_t end = rest.find(';');
            std::string_view entry = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            const std::string_view name = entry.substr(0, entry.find(':'));
            if (name == "xcb") {
                check.usable = tryX();
            } else if (name.rfind("wayland", 0) == 0) {
                check.usable = tryWayland();
            } else if (!name.empty()) {
                check.usable = true;
            }
        }
        return check;
    }
    const bool waylandOk = tryWayland();
    const bool xOk = tryX();
    check.usable = waylandOk || xOk;
    if (waylandOk != xOk) check.platform = waylandOk ? "wayland" : "xcb";
    return check;
}

}  // namespace quorsel
