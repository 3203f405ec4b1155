// The COM ports through SetupAPI's COM port device interface (with the device's
// friendly name), then those the system's serial map lists that SetupAPI did not
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, which Wine fills for its mapped ports).
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <optional>
#include <string>

#include "engine/serial_line.h"
#include "engine/serial_port_list.h"
#include "image/wide_path_win32.h"

namespace quorsel {
namespace {

// GUID_DEVINTERFACE_COMPORT
constexpr GUID COM_PORT_INTERFACE = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
constexpr DWORD REGISTRY_TEXT_MAX = 512;  // characters of a port name or a friendly name
constexpr const wchar_t* SERIAL_MAP_KEY = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string Utf8(const wchar_t* text) { return Utf8Path(std::wstring_view(text)).value_or(std::string()); }

// A registry string value of an open key, or "".
std::wstring RegistryText(HKEY key, const wchar_t* value) {
    wchar_t buffer[REGISTRY_TEXT_MAX + 1] = {};
    DWORD type = 0;
    DWORD size = sizeof(wchar_t) * REGISTRY_TEXT_MAX;
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return buffer;
}

// Closes the device information set on every path.
class DeviceSet {
public:
    DeviceSet() : set_(::SetupDiGetClassDevsW(&COM_PORT_INTERFACE, nullptr, nullptr,
                                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~DeviceSet() {
        if (set_ != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set_);
    }
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

void AddInterfacePorts(std::vector<SerialPortEntry>& ports) {
    DeviceSet devices;
    if (devices.get() == INVALID_HANDLE_VALUE) return;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiEnumDeviceInfo(devices.get(), index, &device)) break;
        HKEY key = ::SetupDiOpenDevRegKey(devices.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::wstring portName = RegistryText(key, L"PortName");
        ::RegCloseKey(key);
        if (portName.empty()) continue;
        wchar_t friendly[REGISTRY_TEXT_MAX + 1] = {};
        DWORD type = 0;
        if (!::SetupDiGetDeviceRegistryPropertyW(devices.get(), &device, SPDRP_FRIENDLYNAME, &type,
                                                 reinterpret_cast<BYTE*>(friendly),
                                                 sizeof(wchar_t) * REGISTRY_TEXT_MAX, nullptr)) {
            friendly[0] = L'\0';
        }
        ports.push_back({Utf8(portName.c_str()), Utf8(friendly)});
    }
}

void AddMappedPorts(std::vector<SerialPortEntry>& ports) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERIAL_MAP_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        wchar_t device[REGISTRY_TEXT_MAX + 1] = {};
        wchar_t port[REGISTRY_TEXT_MAX + 1] = {};
        DWORD deviceLength = REGISTRY_TEXT_MAX;
        DWORD portSize = sizeof(wchar_t) * REGISTRY_TEXT_MAX;
        DWORD type = 0;
        const LONG status = ::RegEnumValueW(key, index, device, &deviceLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(port), &portSize);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::string name = Utf8(port);
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const SerialPortEntry& entry) {
            return ComPortNumber(entry.name) && ComPortNumber(entry.name) == ComPortNumber(name);
        });
        if (!known && !name.empty()) ports.push_back({name, Utf8(device)});
    }
    ::RegCloseKey(key);
}

}  // namespace

std::vector<SerialPortEntry> ListSerialPorts() {
    std::vector<SerialPortEntry> ports;
    AddInterfacePorts(ports);
    AddMappedPorts(ports);
    // In port number order; names that are no COM port after them, as found.
    std::stable_sort(ports.begin(), ports.end(), [](const SerialPortEntry& a, const SerialPortEntry& b) {
        return ComPortNumber(a.name).value_or(COM_PORT_NUMBER_MAX + 1) <
               ComPortNumber(b.name).value_or(COM_PORT_NUMBER_MAX + 1);
    });
    return ports;
}

}  // namespace quorsel
