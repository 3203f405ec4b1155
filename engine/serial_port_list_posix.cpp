#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

#include "engine/serial_port_list.h"

namespace quorsel {
namespace {

namespace fs = std::filesystem;

constexpr const char* BY_ID_FOLDER = "/dev/serial/by-id";
constexpr const char* TTY_CLASS_FOLDER = "/sys/class/tty";
constexpr const char* DEVICE_FOLDER = "/dev";
constexpr const char* DEVICE_PREFIXES[] = {"ttyUSB", "ttyACM", "ttyS"};

// The first line of a small sysfs file, or "".
std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

// "usb-serial: pl2303", "cdc_acm" ...: what the kernel says about a tty device.
std::string DescribeTty(const std::string& tty) {
    std::error_code error;
    const fs::path device = fs::path(TTY_CLASS_FOLDER) / tty / "device";
    const fs::path driver = fs::read_symlink(device / "driver", error);
    std::string text = error ? std::string() : driver.filename().string();
    // A USB adapter names its product two levels up (the interface, then the device).
    for (const char* up : {"../product", "../../product"}) {
        const std::string product = FirstLine(fs::weakly_canonical(device / up, error));
        if (!product.empty()) return product + (text.empty() ? "" : " (" + text + ")");
    }
    return text;
}

bool HasDriver(const std::string& tty) {
    std::error_code error;
    return fs::exists(fs::path(TTY_CLASS_FOLDER) / tty / "device" / "driver", error);
}

// The tty devices in /dev with one of the prefixes, in name order (ttyUSB2 before ttyUSB10).
std::vector<std::string> TtyDevices(const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(DEVICE_FOLDER, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() && name.rfind(prefix, 0) == 0 &&
            std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts() {
    std::vector<SerialPortEntry> ports;
    std::set<std::string> named;  // the tty devices a by-id link already names
    try {
        std::error_code error;
        std::vector<fs::path> links;
        for (fs::directory_iterator it(BY_ID_FOLDER, error), end; !error && it != end; it.increment(error)) {
            links.push_back(it->path());
        }
        std::sort(links.begin(), links.end());
        for (const fs::path& link : links) {
            const fs::path target = fs::canonical(link, error);
            if (error) continue;
            const std::string tty = target.filename().string();
            named.insert(tty);
            std::string description = DescribeTty(tty);
            ports.push_back({link.string(), (description.empty() ? "" : description + ", ") + target.string()});
        }
        for (const char* prefix : DEVICE_PREFIXES) {
            const bool needsDriver = std::string(prefix) == "ttyS";
            for (const std::string& tty : TtyDevices(prefix)) {
                if (named.count(tty) != 0) continue;
                if (needsDriver && !HasDriver(tty)) continue;
                ports.push_back({std::string(DEVICE_FOLDER) + "/" + tty, DescribeTty(tty)});
            }
        }
    } catch (...) {
        // A file system that cannot be read lists what was found so far.
    }
    return ports;
}

}  // namespace quorsel
