#include "ui/port_model.h"

#include <algorithm>

#include "engine/serial_line.h"
#include "job/command_line.h"
#include "res/texts.h"

namespace quorsel {

const std::array<const char*, PORT_COLUMN_COUNT>& PortColumnTitles() {
    static const std::array<const char*, PORT_COLUMN_COUNT> titles = {TEXT_PORT_GROUP, TEXT_PORT_LIST_COLUMN_DESCRIPTION};
    return titles;
}

std::optional<PortChoice> PortChoiceFor(const std::string& name) {
    UpdateJob job;
    job.portName.clear();
    if (!ApplySerialPortToken(name, job)) return std::nullopt;
    PortChoice choice;
    if (job.portName.empty()) {
        choice.comIndex = job.comIndex;
    } else {
        choice.portName = job.portName;
    }
    return choice;
}

void PortListModel::Load(const std::vector<SerialPortEntry>& ports) {
    rows_.clear();
    for (const SerialPortEntry& port : ports) {
        if (!PortChoiceFor(port.name)) continue;
        const bool listed = std::any_of(rows_.begin(), rows_.end(),
                                        [&](const SerialPortEntry& row) { return row.name == port.name; });
        if (!listed) rows_.push_back(port);
    }
}

std::string PortListModel::StateText() const { return rows_.empty() ? TEXT_PORT_LIST_NONE : std::string(); }

std::optional<PortChoice> PortListModel::Choose(size_t row) const {
    if (row >= rows_.size()) return std::nullopt;
    return PortChoiceFor(rows_[row].name);
}

void ApplyPortChoice(const PortChoice& choice, UpdateJob& job) {
    job.transport = TRANSPORT_SERIAL;
    if (choice.comIndex) {
        job.comIndex = *choice.comIndex;
        job.portName.clear();
    } else {
        job.portName = choice.portName;
    }
}

std::string PortGroupCaption(const std::string& portName) {
    if (portName.empty()) return TEXT_PORT_GROUP;
    std::string caption = TEXT_PORT_GROUP_NAMED_FORMAT;
    caption.replace(caption.find("%1"), 2, portName);
    return caption;
}

std::string JobPortText(const UpdateJob& job) {
    if (!job.portName.empty()) return job.portName;
    return "COM" + std::to_string(job.comIndex < COM_RADIO_COUNT ? job.comIndex + 1 : 1);
}

}  // namespace quorsel
