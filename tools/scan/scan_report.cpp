#include "tools/scan/scan_report.h"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "engine/fleet/fleet_result.h"
#include "res/texts.h"

namespace quorsel::scan {

namespace {

constexpr size_t COLUMN_GAP = 2;
constexpr size_t COLUMNS = 4;
// The reason a service that answered something other than a model line gives.
constexpr const char* NOT_ACCESS_POINT_REASON = "answered something other than a model line";

std::string GenerationText(const FoundPeer& peer) {
    const char* word = peer.generation == Generation::New ? TEXT_SEARCH_GENERATION_NEW : TEXT_SEARCH_GENERATION_OLD;
    if (peer.generationDigit == 0) return word;
    return std::string(1, peer.generationDigit) + " (" + word + ")";
}

// Decodes the code point that starts at text[i] and moves i past it.
uint32_t NextCodePoint(const std::string& text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i++]);
    size_t more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    uint32_t value = more == 0 ? lead : lead & (0x3Fu >> more);
    for (; more > 0 && i < text.size(); --more) value = (value << 6) | (static_cast<unsigned char>(text[i++]) & 0x3Fu);
    return value;
}

const char* MissText(ProbeMiss why) {
    switch (why) {
        case ProbeMiss::Refused:
            return TEXT_SEARCH_MISS_REFUSED;
        case ProbeMiss::NoAnswer:
            return TEXT_SEARCH_MISS_NO_ANSWER;
        case ProbeMiss::Silent:
            return TEXT_SEARCH_MISS_SILENT;
    }
    return TEXT_SEARCH_MISS_NO_ANSWER;
}

}  // namespace

size_t DisplayWidth(const std::string& utf8) {
    constexpr uint32_t FIRST_WIDE = 0x1100;
    constexpr uint32_t HALF_WIDTH_FIRST = 0xFF61;
    constexpr uint32_t HALF_WIDTH_LAST = 0xFF9F;
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();) {
        const uint32_t c = NextCodePoint(utf8, i);
        const bool narrow = c < FIRST_WIDE || (c >= HALF_WIDTH_FIRST && c <= HALF_WIDTH_LAST);
        width += narrow ? 1 : 2;
    }
    return width;
}

std::string JsonLine(const FoundPeer& peer, bool firmwareGiven) {
    using Json = nlohmann::ordered_json;
    Json object;
    object["address"] = FormatAddress(peer.address);
    object["accessPoint"] = peer.kind == PeerKind::ACCESS_POINT;
    if (peer.kind == PeerKind::ACCESS_POINT) {
        object["model"] = peer.modelCode;
        object["generation"] = peer.generation == Generation::New ? "new" : "old";
        object["generationDigit"] =
            peer.generationDigit == 0 ? Json(nullptr) : Json(std::string(1, peer.generationDigit));
        object["fits"] = firmwareGiven ? Json(peer.fitsFirmware) : Json(nullptr);
    } else {
        object["result"] = FleetResultName(FleetResult::NOT_AN_ACCESS_POINT);
        object["reason"] = NOT_ACCESS_POINT_REASON;
    }
    return object.dump();
}

std::string JsonLine(const ScanMiss& miss) {
    nlohmann::ordered_json object;
    object["address"] = FormatAddress(miss.address);
    object["accessPoint"] = false;
    object["result"] = FleetResultName(FleetResult::NO_ANSWER);
    object["reason"] = ProbeMissName(miss.why);
    return object.dump();
}

std::string Table(std::vector<FoundPeer> peers, const std::vector<ScanMiss>& misses) {
    using Row = std::array<std::string, COLUMNS>;
    std::vector<std::pair<Ipv4Address, Row>> sorted;
    for (const FoundPeer& peer : peers) {
        if (peer.kind == PeerKind::ACCESS_POINT) {
            sorted.push_back({peer.address, {FormatAddress(peer.address), peer.modelCode, GenerationText(peer),
                                             peer.fitsFirmware ? TEXT_SEARCH_FITS_MARK : ""}});
        } else {
            sorted.push_back({peer.address, {FormatAddress(peer.address), TEXT_SEARCH_NOT_ACCESS_POINT, "", ""}});
        }
    }
    for (const ScanMiss& miss : misses) sorted.push_back({miss.address, {FormatAddress(miss.address), MissText(miss.why), "", ""}});
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Row> rows;
    rows.push_back({TEXT_IP_ADDRESS, TEXT_SEARCH_COLUMN_MODEL, TEXT_SEARCH_COLUMN_GENERATION, TEXT_SEARCH_COLUMN_FITS});
    for (auto& entry : sorted) rows.push_back(std::move(entry.second));
    std::array<size_t, COLUMNS> widths{};
    for (const Row& row : rows) {
        // A service that is no access point spans the other columns; it does not widen them.
        const size_t counted = row[2].empty() && &row != &rows.front() ? 1 : COLUMNS;
        for (size_t c = 0; c < counted; ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    std::string text;
    for (const Row& row : rows) {
        std::string line;
        for (size_t c = 0; c < COLUMNS; ++c) {
            line += row[c];
            if (c + 1 < COLUMNS) line.append(widths[c] + COLUMN_GAP - std::min(widths[c], DisplayWidth(row[c])), ' ');
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

}  // namespace quorsel::scan
