// The serial ports present on this machine, for the user to choose from.
#pragma once

#include <string>
#include <vector>

namespace quorsel {

struct SerialPortEntry {
    std::string name;         // what the job opens: "COM7", "/dev/ttyUSB0", a /dev/serial/by-id path
    std::string description;  // the system's description, e.g. "USB Serial Port (COM7)"
};

// Windows: the COM port device interfaces with their friendly names. Linux:
// /dev/serial/by-id, then the ttyUSB*, ttyACM* and driven ttyS* devices that no
// by-id link already names. An empty list when there is none or the system
// cannot say.
std::vector<SerialPortEntry> ListSerialPorts();

}  // namespace quorsel
