#include "ui/search_model.h"

#include <algorithm>
#include <limits>

#include "res/texts.h"

namespace quorsel {

namespace {

// The bar's range and position fit 32 bits; a search is far smaller, but the
// counts are size_t.
uint32_t Clamp32(size_t value) {
    return static_cast<uint32_t>(std::min<size_t>(value, std::numeric_limits<uint32_t>::max()));
}

bool AddressBefore(const Ipv4Address& a, const Ipv4Address& b) {
    // Network byte order: the first byte is the most significant.
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

SearchRow RowFor(const FoundPeer& peer) {
    SearchRow row;
    row.address = peer.address;
    row.fits = peer.fitsFirmware;
    row.cells[COLUMN_ADDRESS] = FormatAddress(peer.address);
    row.cells[COLUMN_MODEL] = peer.modelCode;
    // The digit the access point sent; none when its reply ended before it.
    if (peer.generationDigit != 0) row.cells[COLUMN_GENERATION] = std::string(1, peer.generationDigit);
    if (peer.fitsFirmware) row.cells[COLUMN_FITS] = TEXT_SEARCH_FITS_MARK;
    return row;
}

}  // namespace

const std::array<const char*, SEARCH_COLUMN_COUNT>& SearchColumnTitles() {
    static constexpr std::array<const char*, SEARCH_COLUMN_COUNT> titles = {
        TEXT_IP_ADDRESS, TEXT_SEARCH_COLUMN_MODEL, TEXT_SEARCH_COLUMN_GENERATION, TEXT_SEARCH_COLUMN_FITS};
    return titles;
}

void SearchModel::Start() {
    phase_ = Phase::Searching;
    rows_.clear();
    barRange_ = 1;
    barPos_ = 0;
    error_.clear();
    subnets_.clear();
    leftOut_.clear();
}

std::optional<size_t> SearchModel::Apply(const SearchEvent& event) {
    switch (event.kind) {
        case SearchEvent::Kind::Found: {
            if (event.peer.kind != PeerKind::ACCESS_POINT) return std::nullopt;
            auto same = std::find_if(rows_.begin(), rows_.end(),
                                     [&](const SearchRow& row) { return row.address == event.peer.address; });
            if (same != rows_.end()) return std::nullopt;  // each address is listed once
            auto place = std::upper_bound(rows_.begin(), rows_.end(), event.peer.address,
                                          [](const Ipv4Address& address, const SearchRow& row) {
                                              return AddressBefore(address, row.address);
                                          });
            size_t index = static_cast<size_t>(place - rows_.begin());
            rows_.insert(place, RowFor(event.peer));
            return index;
        }
        case SearchEvent::Kind::Progress:
            barRange_ = std::max<uint32_t>(Clamp32(event.total), 1);
            barPos_ = std::min(Clamp32(event.probed), barRange_);
            return std::nullopt;
        case SearchEvent::Kind::Finished:
            phase_ = Phase::Ended;
            barPos_ = barRange_;
            error_ = event.outcome.error;
            subnets_ = event.outcome.subnets;
            leftOut_ = event.outcome.leftOut;
            return std::nullopt;
    }
    return std::nullopt;
}

std::string SearchModel::StateText() const {
    if (phase_ == Phase::Searching) return TEXT_SEARCH_PROGRESS;
    if (phase_ != Phase::Ended) return std::string();
    std::string leftOut = LeftOutText();
    if (!leftOut.empty()) return leftOut;
    if (rows_.empty()) return TEXT_SEARCH_NONE_FOUND;
    return std::string();
}

std::string SearchModel::LeftOutText() const {
    if (phase_ != Phase::Ended || leftOut_.empty()) return std::string();
    std::string subnets;
    for (const std::string& subnet : subnets_) subnets += (subnets.empty() ? "" : ", ") + subnet;
    std::string text = TEXT_SEARCH_SUBNETS_SEARCHED_FORMAT;
    text.replace(text.find("%1"), 2, subnets);
    return text;
}

bool SearchModel::OkEnabled(std::optional<size_t> selected) const {
    return selected.has_value() && *selected < rows_.size();
}

std::optional<SearchChoice> SearchModel::Choose(size_t row) const {
    if (row >= rows_.size()) return std::nullopt;
    SearchChoice choice;
    choice.addressText = rows_[row].cells[COLUMN_ADDRESS];
    choice.transport = TRANSPORT_LAN;
    return choice;
}

}  // namespace quorsel
