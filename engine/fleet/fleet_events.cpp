#include "engine/fleet/fleet_events.h"

#include <map>

#include "engine/fleet/fleet_report_json.h"

namespace quorsel {

namespace {

using Json = nlohmann::ordered_json;

constexpr int PERCENT_FULL = 100;

std::string Line(const Json& object) { return object.dump(-1, ' ', false, Json::error_handler_t::replace); }

// An event object: its name first, then the given record's keys.
Json Event(const char* name, const Json& record = Json::object()) {
    Json event;
    event["event"] = name;
    for (const auto& [key, value] : record.items()) event[key] = value;
    return event;
}

}  // namespace

const char* FleetStateName(FleetState state) {
    switch (state) {
        case FleetState::WAITING: return "waiting";
        case FleetState::RUNNING: return "running";
        case FleetState::FINISHED: return "finished";
        case FleetState::SKIPPED: return "skipped";
        case FleetState::NOT_STARTED: return "not-started";
    }
    return "waiting";
}

const char* RestartStateName(RestartState state) {
    switch (state) {
        case RestartState::AWAITED: return "awaited";
        case RestartState::SEEN: return "seen";
        case RestartState::NOT_SEEN: return "not-seen";
        case RestartState::STOPPED: return "stopped";
    }
    return "awaited";
}

FleetEventWriter::FleetEventWriter(std::function<void(const std::string&)> writeLine, FleetReportTexts texts,
                                   std::string firmwarePath)
    : writeLine_(std::move(writeLine)), texts_(std::move(texts)), firmwarePath_(std::move(firmwarePath)) {}

void FleetEventWriter::Plan(const FleetReportHeader& header, const std::vector<FleetEntry>& entries, bool dryRun) {
    Json plan = Event("plan");
    plan["dryRun"] = dryRun;
    plan["started"] = FormatUtc(header.started);
    plan["firmware"] = FleetFirmwareRecords(header.firmware);
    plan["regions"] = header.regions;
    plan["targets"] = header.targets;
    plan["accessPoints"] = Json::array();
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.assign(entries.size(), Row{});
    for (size_t i = 0; i < entries.size(); ++i) {
        Json record = FleetEntryRecord(entries[i], texts_, firmwarePath_);
        record["state"] = FleetStateName(entries[i].state);
        plan["accessPoints"].push_back(record);
        rows_[i].state = FleetStateName(entries[i].state);
        rows_[i].result = FleetResultName(entries[i].result);
    }
    writeLine_(Line(plan));
}

void FleetEventWriter::EntryChanged(size_t index, const FleetEntry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= rows_.size()) rows_.resize(index + 1);
    Row& row = rows_[index];
    const std::string state = FleetStateName(entry.state);
    const std::string status = StatusCodeName(entry.state == FleetState::FINISHED ? entry.outcome : entry.lastCode);
    const std::string result = FleetResultName(entry.result);
    const std::string restart = entry.restartWatched ? RestartStateName(entry.restart) : "";
    if (state != row.state || status != row.status || result != row.result) {
        row.state = state;
        row.status = status;
        row.result = result;
        Json record = FleetEntryRecord(entry, texts_, firmwarePath_);
        Json event = Event("state");
        event["address"] = record["address"];
        event["state"] = state;
        event["status"] = status;
        for (const auto& [key, value] : record.items()) {
            if (!event.contains(key)) event[key] = value;
        }
        writeLine_(Line(event));
    }
    if (entry.state == FleetState::RUNNING && entry.counters.total > 0) {
        const int percent = static_cast<int>(uint64_t{entry.counters.done} * PERCENT_FULL / entry.counters.total);
        if (entry.counters.total != row.rangeTotal || entry.counters.done == 0) row.percent = -1;  // a new range
        row.rangeTotal = entry.counters.total;
        if (percent != row.percent) {
            row.percent = percent;
            Json event = Event("progress");
            event["address"] = FormatAddress(entry.target.address);
            event["percent"] = percent;
            event["bytesAcknowledged"] = entry.bytesWritten;
            writeLine_(Line(event));
        }
    }
    if (restart != row.restart) {
        row.restart = restart;
        Json event = Event("restart");
        event["address"] = FormatAddress(entry.target.address);
        event["restart"] = restart;
        const Json record = FleetEntryRecord(entry, texts_, firmwarePath_);
        event["restartSeen"] = record["restartSeen"];
        event["restartSeenAt"] = record["restartSeenAt"];
        writeLine_(Line(event));
    }
}

void FleetEventWriter::End(const FleetReportHeader& header, const std::vector<FleetEntry>& entries) {
    Json end = Event("end");
    end["ended"] = header.ended ? Json(FormatUtc(*header.ended)) : Json(nullptr);
    end["finished"] = header.ended.has_value();
    end["exitStatus"] = header.exitStatus ? Json(*header.exitStatus) : Json(nullptr);
    Json recap = Event("recap");
    std::map<std::string, size_t> counts;
    Json notUpdated = Json::array();
    for (const FleetEntry& entry : entries) {
        const std::string result = FleetResultName(entry.result);
        ++counts[result];
        if (entry.result != FleetResult::UPDATED) notUpdated.push_back(FleetEntryRecord(entry, texts_, firmwarePath_));
    }
    recap["counts"] = Json::object();
    for (const auto& [result, count] : counts) recap["counts"][result] = count;
    recap["accessPoints"] = notUpdated;
    std::lock_guard<std::mutex> lock(mutex_);
    writeLine_(Line(end));
    writeLine_(Line(recap));
}

void FleetEventWriter::NothingToRedo(const std::string& reportPath) {
    Json line = Event("nothing-to-redo");
    line["report"] = reportPath;
    std::lock_guard<std::mutex> lock(mutex_);
    writeLine_(Line(line));
}

}  // namespace quorsel
