// What the search dialogs and the terminal show of a search for access points: the
// rows sorted by address, the fit mark, the state line, which buttons work, and
// what choosing a row puts into the settings. Shared by the Qt and Win32 dialogs
// and the terminal front-end; they only copy what it says onto their controls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "job/update_job.h"
#include "engine/search/access_point_search.h"

namespace quorsel {

// The columns of the list, left to right.
enum SearchColumn : size_t { COLUMN_ADDRESS, COLUMN_MODEL, COLUMN_GENERATION, COLUMN_FITS, SEARCH_COLUMN_COUNT };
// The column headers, in column order (UTF-8, from res/texts.h).
const std::array<const char*, SEARCH_COLUMN_COUNT>& SearchColumnTitles();

// One access point found, as the list shows it. Only access points are listed:
// a service on port 9002 that gave no model line cannot be updated, so it is
// not offered for choosing (quorsel-scan reports those).
struct SearchRow {
    Ipv4Address address{};
    std::array<std::string, SEARCH_COLUMN_COUNT> cells;  // UTF-8
    bool fits = false;
};

// What one event of the search ran into. The search's own thread produces the
// events; the front-end's thread applies them, in order.
struct SearchEvent {
    enum class Kind { Found, Progress, Finished };
    Kind kind = Kind::Progress;
    FoundPeer peer;           // Found
    size_t probed = 0;        // Progress
    size_t total = 0;         // Progress
    SearchOutcome outcome;    // Finished
};

// What the settings dialog takes from a choice: the address goes into its address
// edit and the LAN update is selected.
struct SearchChoice {
    std::string addressText;
    uint32_t transport = TRANSPORT_LAN;
};

class SearchModel {
public:
    enum class Phase { Idle, Searching, Ended };

    // A new search begins: no rows, "検索中...", the bar at 0.
    void Start();
    // Applies one event. For a Found event of an access point: the index its row was
    // inserted at (rows after it move down by one); nullopt for every other event.
    std::optional<size_t> Apply(const SearchEvent& event);

    Phase phase() const { return phase_; }
    const std::vector<SearchRow>& rows() const { return rows_; }
    // The line under the list: "検索中..." while searching; once ended, the subnets
    // searched when some were left out, else the not-found text when no access point
    // was found, else empty.
    std::string StateText() const;
    // When the last search left subnets out: which subnets it searched (the same
    // text the dialogs show and the terminal prints), else empty.
    std::string LeftOutText() const;
    // The progress bar: position out of range (range at least 1).
    uint32_t barRange() const { return barRange_; }
    uint32_t barPos() const { return barPos_; }
    // Why the last search could not run (the platform's or the target list's
    // message, for a diagnostic line), or empty.
    const std::string& error() const { return error_; }

    // OK chooses the selected row: usable while a row is selected, also while the
    // search still runs (choosing ends it).
    bool OkEnabled(std::optional<size_t> selected) const;
    // "再検索" starts a new search: usable once the current one has ended.
    bool SearchAgainEnabled() const { return phase_ == Phase::Ended; }
    // What choosing a row (double-click, or OK with it selected) hands to the
    // settings; nullopt for an index that names no row.
    std::optional<SearchChoice> Choose(size_t row) const;

private:
    Phase phase_ = Phase::Idle;
    std::vector<SearchRow> rows_;
    uint32_t barRange_ = 1;
    uint32_t barPos_ = 0;
    std::string error_;
    std::vector<std::string> subnets_;
    std::vector<std::string> leftOut_;
};

}  // namespace quorsel
