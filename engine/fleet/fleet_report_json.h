// The report's records as JSON values, for the engine's own writers of the report and
// of the fleet's events (JSON Lines); not for the tools, whose builds need not see the
// JSON library.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "engine/fleet/fleet_report.h"

namespace quorsel {

// One access point's record; firmwarePath is the file of a row that names none.
nlohmann::ordered_json FleetEntryRecord(const FleetEntry& entry, const FleetReportTexts& texts,
                                        const std::string& firmwarePath);
// The "firmware" list.
nlohmann::ordered_json FleetFirmwareRecords(const std::vector<FleetFirmware>& firmware);

}  // namespace quorsel
