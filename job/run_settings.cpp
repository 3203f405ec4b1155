#include "job/run_settings.h"

namespace quorsel {

RunSettings RunSettingsFor(const UpdateJob& job, const std::string& programPath, const PeerTimeouts& timeouts) {
    RunSettings settings;
    settings.transport = job.transport == TRANSPORT_SERIAL ? TRANSPORT_SERIAL : TRANSPORT_LAN;
    settings.optionFlags = job.optionFlags;
    settings.peer.port = job.tcpPort;
    settings.peer.address = job.address;
    settings.comIndex = job.comIndex;
    settings.portName = job.portName;
    settings.baudRate = job.baudRate;
    settings.programPath = programPath;
    settings.timeouts = timeouts;
    return settings;
}

}  // namespace quorsel
