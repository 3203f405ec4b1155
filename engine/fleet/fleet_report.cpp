#include "engine/fleet/fleet_report.h"

#include <nlohmann/json.hpp>

#include "engine/fleet/fleet_report_json.h"

#include <cstdio>

namespace quorsel {

std::string FormatUtc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> clock{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

const char* GenerationName(char generationDigit) {
    if (generationDigit == 0) return "";
    // Taken as signed, as the run does: bytes 0x80 to 0xFF count as old.
    return static_cast<signed char>(generationDigit) >= '2' ? "new" : "old";
}

using Json = nlohmann::ordered_json;

namespace {

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json TimeOrNull(std::chrono::system_clock::time_point time) {
    return time == std::chrono::system_clock::time_point{} ? Json(nullptr) : Json(FormatUtc(time));
}

}  // namespace

Json FleetEntryRecord(const FleetEntry& entry, const FleetReportTexts& texts, const std::string& firmwarePath) {
    const FleetTarget& target = entry.target;
    // A run that raised a code: its access point was given the firmware file.
    const bool ran = entry.lastCode != STATUS_NONE;
    const bool ended = entry.state == FleetState::FINISHED;
    Json record;
    record["address"] = FormatAddress(target.address);
    record["model"] = TextOrNull(target.modelCode);
    const bool known = !target.modelCode.empty();
    const char digit = target.generationDigit;
    const bool digitKnown = digit >= '0' && digit <= '9';
    record["generation"] = known ? Json(GenerationName(digit != 0 ? digit : '0')) : Json(nullptr);
    record["generationDigit"] = digitKnown ? Json(std::string(1, digit)) : Json(nullptr);
    record["result"] = entry.result == FleetResult::NONE ? Json(nullptr) : Json(FleetResultName(entry.result));
    std::string reason = entry.reason;
    if (reason.empty() && ended && ran) reason = texts.statusText(entry.outcome, target.address);
    if (reason.empty() && entry.result == FleetResult::STOPPED_BEFORE_START) reason = texts.notStartedText;
    record["reason"] = TextOrNull(reason);
    record["flashTouched"] = entry.flashTouched;
    // A stopped run ended because the fleet asked it to: no code of its own, no exit status.
    const bool ownEnd = ended && ran && !entry.stopped;
    record["status"] = ownEnd ? Json(StatusCodeName(entry.outcome)) : Json(nullptr);
    record["exitStatus"] = ownEnd ? Json(texts.exitStatus(entry.outcome)) : Json(nullptr);
    record["bytesAcknowledged"] = entry.bytesWritten;
    record["started"] = TimeOrNull(entry.startedUtc);
    record["ended"] = TimeOrNull(entry.endedUtc);
    record["diagnostic"] = TextOrNull(entry.diagnostic);
    const std::string& file = target.firmwarePath.empty() ? firmwarePath : target.firmwarePath;
    record["firmware"] = ran || entry.result == FleetResult::PLANNED ? Json(file) : Json(nullptr);
    // With --await-restart: null for an access point that was not watched.
    record["restartSeen"] = entry.restartWatched && entry.restart != RestartState::AWAITED
                                ? Json(entry.restart == RestartState::SEEN)
                                : Json(nullptr);
    record["restartSeenAt"] = entry.restart == RestartState::SEEN ? TimeOrNull(entry.restartSeenAt) : Json(nullptr);
    return record;
}

Json FleetFirmwareRecords(const std::vector<FleetFirmware>& firmware) {
    Json list = Json::array();
    for (const FleetFirmware& file : firmware) {
        list.push_back({{"path", file.path}, {"size", file.size}, {"sha256", file.sha256}, {"model", file.modelCode}});
    }
    return list;
}

std::string FleetReportJson(const FleetReportHeader& header, const std::vector<FleetEntry>& entries,
                            const FleetReportTexts& texts) {
    Json report;
    report["program"] = "quorsel-fleet";
    report["version"] = header.version;
    report["started"] = FormatUtc(header.started);
    report["ended"] = header.ended ? Json(FormatUtc(*header.ended)) : Json(nullptr);
    report["finished"] = header.ended.has_value();
    report["exitStatus"] = header.exitStatus ? Json(*header.exitStatus) : Json(nullptr);
    report["firmware"] = FleetFirmwareRecords(header.firmware);
    report["regions"] = header.regions;
    report["targets"] = header.targets;
    report["accessPoints"] = Json::array();
    const std::string firmwarePath = header.firmware.empty() ? std::string() : header.firmware.front().path;
    for (const FleetEntry& entry : entries) report["accessPoints"].push_back(FleetEntryRecord(entry, texts, firmwarePath));
    // Texts are UTF-8; anything else in a diagnostic is replaced rather than refused.
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace quorsel
