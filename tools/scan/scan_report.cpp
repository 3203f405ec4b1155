#include "tools/scan/scan_report.h"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "res/texts.h"

namespace quorsel::scan {

namespace {

constexpr size_t COLUMN_GAP = 2;
constexpr size_t COLUMNS = 4;

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
    object["access_point"] = peer.kind == PeerKind::ACCESS_POINT;
    if (peer.kind == PeerKind::ACCESS_POINT) {
        object["model"] = peer.modelCode;
        object["generation"] = peer.generation == Generation::New ? "new" : "old";
        object["generation_digit"] =
            peer.generationDigit == 0 ? Json(nullptr) : Json(std::string(1, peer.generationDigit));
        object["fits"] = firmwareGiven ? Json(peer.fitsFirmware) : Json(nullptr);
    }
    return object.dump();
}

std::string Table(std::vector<FoundPeer> peers) {
    std::sort(peers.begin(), peers.end(), [](const FoundPeer& a, const FoundPeer& b) { return a.address < b.address; });
    using Row = std::array<std::string, COLUMNS>;
    std::vector<Row> rows;
    rows.push_back({TEXT_IP_ADDRESS, TEXT_SEARCH_COLUMN_MODEL, TEXT_SEARCH_COLUMN_GENERATION, TEXT_SEARCH_COLUMN_FITS});
    for (const FoundPeer& peer : peers) {
        if (peer.kind == PeerKind::ACCESS_POINT) {
            rows.push_back({FormatAddress(peer.address), peer.modelCode, GenerationText(peer),
                            peer.fitsFirmware ? TEXT_SEARCH_FITS_MARK : ""});
        } else {
            rows.push_back({FormatAddress(peer.address), TEXT_SEARCH_NOT_ACCESS_POINT, "", ""});
        }
    }
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
