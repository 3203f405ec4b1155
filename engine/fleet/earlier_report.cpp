#include "engine/fleet/earlier_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace quorsel {

namespace {

using Json = nlohmann::json;

// The string under key, or "" when it is missing, null or not a string.
std::string StringAt(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return {};
    return found->get<std::string>();
}

// A single address as the report writes it ("10.0.0.2"), nothing wider.
std::optional<Ipv4Address> ParseSingleAddress(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return std::nullopt;
    const TargetExpansion expanded = ExpandTargets({text});
    if (!expanded.error.empty() || expanded.addresses.size() != 1) return std::nullopt;
    return expanded.addresses.front();
}

bool IsHexDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The SHA-256 of the file the report says this access point got (by its path, else
// by its model); "" when the report does not say.
std::string EarlierDigestFor(const EarlierReport& report, const EarlierAccessPoint& accessPoint) {
    for (const EarlierFirmware& file : report.firmware) {
        if (!accessPoint.firmware.empty() ? file.path == accessPoint.firmware : file.model == accessPoint.model) {
            return file.sha256;
        }
    }
    return {};
}

}  // namespace

Result<EarlierReport, std::string> ParseEarlierReport(const std::string& text, const std::string& path) {
    const std::string where = "the report " + path;
    const Json json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded() || !json.is_object()) return Fail(where + " is not a fleet report (no JSON object)");
    const auto firmware = json.find("firmware");
    const auto accessPoints = json.find("accessPoints");
    if (firmware == json.end() || !firmware->is_array() || accessPoints == json.end() || !accessPoints->is_array()) {
        return Fail(where + " is not a fleet report (no \"firmware\" and \"accessPoints\" lists)");
    }

    EarlierReport report;
    report.path = path;
    for (const Json& item : *firmware) {
        if (!item.is_object()) return Fail(where + " has a \"firmware\" entry that is not an object");
        EarlierFirmware file{StringAt(item, "path"), StringAt(item, "model"), StringAt(item, "sha256")};
        if (file.path.empty() || !IsHexDigest(file.sha256)) {
            return Fail(where + " has a \"firmware\" entry without a path and a SHA-256");
        }
        report.firmware.push_back(std::move(file));
    }
    for (const Json& item : *accessPoints) {
        if (!item.is_object()) return Fail(where + " has an \"accessPoints\" entry that is not an object");
        const std::string addressText = StringAt(item, "address");
        const std::optional<Ipv4Address> address = ParseSingleAddress(addressText);
        if (!address) return Fail(where + " has an access point without a usable address ('" + addressText + "')");
        EarlierAccessPoint accessPoint{*address, StringAt(item, "model"), StringAt(item, "result"),
                                       StringAt(item, "firmware")};
        if (accessPoint.result.empty()) {
            return Fail(where + " has no result for " + addressText + " (a report of a fleet that did not finish?)");
        }
        report.accessPoints.push_back(std::move(accessPoint));
    }
    return report;
}

Result<bool, std::string> CheckSameFirmware(const EarlierReport& report, const FirmwareSet& firmware) {
    bool shared = false;
    for (const EarlierFirmware& earlier : report.firmware) {
        const FirmwareFile* now = firmware.ForModel(earlier.model);
        if (now == nullptr) continue;
        if (now->sha256 != earlier.sha256) {
            return Fail("the report " + report.path + " was made with the firmware file " + earlier.path +
                        ", not with " + now->path + " (model " + earlier.model + ", another SHA-256)");
        }
        shared = true;
    }
    if (!shared) {
        std::string files;
        for (const EarlierFirmware& earlier : report.firmware) files += (files.empty() ? "" : ", ") + earlier.path;
        std::string given;
        for (const FirmwareFile& file : firmware.files()) given += (given.empty() ? "" : ", ") + file.path;
        return Fail("the report " + report.path + " was made with the firmware file " +
                    (files.empty() ? std::string("(none named)") : files) + ", not with " + given +
                    " (no model in common)");
    }
    return true;
}

bool NeedsRetry(const std::string& result) {
    return result != "updated" && result != "skipped-other-model" && result != "not-an-access-point";
}

Result<std::vector<Ipv4Address>, std::string> RetryTargets(const EarlierReport& report, const FirmwareSet& firmware) {
    auto same = CheckSameFirmware(report, firmware);
    if (!same) return Fail(same.error());
    std::vector<Ipv4Address> addresses;
    for (const EarlierAccessPoint& accessPoint : report.accessPoints) {
        if (!NeedsRetry(accessPoint.result)) continue;
        if (std::find(addresses.begin(), addresses.end(), accessPoint.address) != addresses.end()) continue;
        addresses.push_back(accessPoint.address);
    }
    return addresses;
}

std::vector<Ipv4Address> UpdatedWithSameFirmware(const EarlierReport& report, const FirmwareSet& firmware) {
    std::vector<Ipv4Address> addresses;
    for (const EarlierAccessPoint& accessPoint : report.accessPoints) {
        if (accessPoint.result != "updated" || accessPoint.model.empty()) continue;
        const FirmwareFile* now = firmware.ForModel(accessPoint.model);
        const std::string earlier = EarlierDigestFor(report, accessPoint);
        if (now != nullptr && !earlier.empty() && earlier == now->sha256) addresses.push_back(accessPoint.address);
    }
    return addresses;
}

}  // namespace quorsel
