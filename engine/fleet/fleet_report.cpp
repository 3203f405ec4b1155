#include "engine/fleet/fleet_report.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace quorsel {

const char* StatusCodeName(StatusCode code) {
    switch (code) {
        case STATUS_CONNECTING: return "STATUS_CONNECTING";
        case STATUS_TRANSFERRING: return "STATUS_TRANSFERRING";
        case STATUS_WRITING: return "STATUS_WRITING";
        case STATUS_CONNECT_FAILED: return "STATUS_CONNECT_FAILED";
        case STATUS_COMM_ERROR: return "STATUS_COMM_ERROR";
        case STATUS_WRITE_ERROR: return "STATUS_WRITE_ERROR";
        case STATUS_WRONG_MODEL: return "STATUS_WRONG_MODEL";
        case STATUS_FILE_ERROR: return "STATUS_FILE_ERROR";
        case STATUS_PROGRESS: return "STATUS_PROGRESS";
        case STATUS_SERIAL_PROGRESS: return "STATUS_SERIAL_PROGRESS";
        case STATUS_FLASH_WRITING: return "STATUS_FLASH_WRITING";
        case STATUS_ERASING: return "STATUS_ERASING";
        case STATUS_COMPLETE: return "STATUS_COMPLETE";
        case STATUS_BAD_PASSWORD: return "STATUS_BAD_PASSWORD";
        case STATUS_ABORTED: return "STATUS_ABORTED";
        default: return "STATUS_NONE";
    }
}

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

namespace {

const char* StateName(FleetState state) {
    switch (state) {
        case FleetState::WAITING: return "waiting";
        case FleetState::RUNNING: return "running";
        case FleetState::FINISHED: return "finished";
        case FleetState::SKIPPED: return "skipped";
        case FleetState::NOT_STARTED: return "not-started";
    }
    return "waiting";
}

nlohmann::ordered_json Regions(uint16_t optionFlags) {
    nlohmann::ordered_json regions = nlohmann::ordered_json::array();
    for (int region = 0; region < 6; ++region) {
        if ((optionFlags >> region) & 1u) regions.push_back(region);
    }
    return regions;
}

nlohmann::ordered_json EntryJson(const FleetEntry& entry, const FleetReportTexts& texts) {
    nlohmann::ordered_json record;
    record["address"] = FormatAddress(entry.target.address);
    record["model"] = entry.target.modelCode.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(entry.target.modelCode);
    record["generation"] = entry.target.generationDigit == 0 ? nlohmann::ordered_json(nullptr)
                                                               : nlohmann::ordered_json(std::string(1, entry.target.generationDigit));
    record["state"] = StateName(entry.state);
    if (entry.state == FleetState::FINISHED) {
        record["outcome"] = {{"code", StatusCodeName(entry.outcome)},
                             {"text", texts.statusText(entry.outcome, entry.target.address)}};
        record["exitStatus"] = texts.exitStatus(entry.outcome);
    } else {
        const std::string& text = entry.state == FleetState::SKIPPED ? texts.skippedText : texts.notStartedText;
        record["outcome"] = {{"code", nullptr}, {"text", text}};
        record["exitStatus"] = nullptr;
    }
    record["bytesWritten"] = entry.bytesWritten;
    const auto elapsed = entry.Elapsed(entry.ended);
    record["durationSeconds"] = static_cast<double>(elapsed.count()) / 1000.0;
    record["diagnostic"] = entry.diagnostic.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(entry.diagnostic);
    return record;
}

}  // namespace

std::string FleetReportJson(const FleetReportHeader& header, const std::vector<FleetEntry>& entries,
                            const FleetReportTexts& texts) {
    nlohmann::ordered_json report;
    report["firmware"] = header.firmwarePath;
    report["model"] = header.modelCode;
    report["regions"] = Regions(header.optionFlags);
    report["started"] = FormatUtc(header.started);
    report["ended"] = FormatUtc(header.ended);
    report["exitStatus"] = header.exitStatus;
    report["accessPoints"] = nlohmann::ordered_json::array();
    for (const FleetEntry& entry : entries) report["accessPoints"].push_back(EntryJson(entry, texts));
    // Texts are UTF-8; anything else in a diagnostic is replaced rather than refused.
    return report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace quorsel
