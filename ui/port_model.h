// What the port list shows and what choosing from it puts into the settings: the
// serial ports present, with their names and descriptions, the line that says
// none was found, and which radio button or caption a choice gives the settings
// dialog. Shared by the Qt and Win32 dialogs and the terminal front-end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/serial_port_list.h"
#include "job/update_job.h"

namespace quorsel {

enum PortColumn : size_t { PORT_COLUMN_NAME, PORT_COLUMN_DESCRIPTION, PORT_COLUMN_COUNT };
// The column headers, in column order (UTF-8, from res/texts.h).
const std::array<const char*, PORT_COLUMN_COUNT>& PortColumnTitles();

// A choice as the settings take it: COM1 to COM4 check their radio button; any
// other port unchecks all four and names itself in the port group's caption.
struct PortChoice {
    std::optional<uint32_t> comIndex;  // 0..3 for COM1..COM4
    std::string portName;              // any other port; empty with comIndex
};

class PortListModel {
public:
    // The ports as listed, each name once; entries that no job could open (no COM
    // number, no device path where those are accepted) are left out.
    void Load(const std::vector<SerialPortEntry>& ports);
    const std::vector<SerialPortEntry>& rows() const { return rows_; }
    // Under the list: the no-port text when the list is empty, else empty.
    std::string StateText() const;
    bool OkEnabled(std::optional<size_t> selected) const { return selected && *selected < rows_.size(); }
    std::optional<PortChoice> Choose(size_t row) const;

private:
    std::vector<SerialPortEntry> rows_;
};

// The port a name gives, as Choose would: nullopt for a name no job can open.
std::optional<PortChoice> PortChoiceFor(const std::string& name);
// Puts the choice into the job and selects the serial update.
void ApplyPortChoice(const PortChoice& choice, UpdateJob& job);
// The "ポート" group's caption: the plain caption for COM1..COM4 (portName empty),
// else the caption with the port's name.
std::string PortGroupCaption(const std::string& portName);
// The port of a job as the user calls it: "COM3", "COM12", "/dev/ttyUSB0".
std::string JobPortText(const UpdateJob& job);

}  // namespace quorsel
