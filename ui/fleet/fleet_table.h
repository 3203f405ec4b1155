// The fleet's display. On a terminal: a table with one row per access point
// (address, model, generation, status text, progress bar, elapsed time), redrawn in
// place at most ten times a second, and a summary line at the end. Otherwise: one
// line per change of a row's status, prefixed with its address.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/fleet/fleet.h"

namespace quorsel {

constexpr std::chrono::milliseconds TABLE_REDRAW_INTERVAL{100};
constexpr size_t TABLE_BAR_WIDTH = 8;

// The status text of a row, from the status texts of the update run.
std::string FleetStatusText(const FleetEntry& entry);
// The text of a final code for an access point ("10.0.0.2 に接続できません"...).
std::string StatusTextFor(StatusCode code, const Ipv4Address& address);
// Columns a UTF-8 text takes on a terminal (wide characters take two).
size_t DisplayWidth(const std::string& text);
// One table row (without line end); now gives the elapsed time of running rows.
std::string FleetRow(const FleetEntry& entry, std::chrono::steady_clock::time_point now);
std::string FleetHeader();
// The counts by outcome: the summary line at the end, and while runs go on the line
// that stands for the rows a short terminal cannot show.
std::string FleetSummary(const std::vector<FleetEntry>& entries);

// The terminal's size (columns, rows) for the live table; zeros when not known.
using TerminalSizeSource = std::function<std::pair<size_t, size_t>()>;

// The rows a frame of `lines` terminal lines shows: all of them when they fit, else
// the running ones first, then the waiting, then the rest, in their order.
std::vector<size_t> RowsThatFit(const std::vector<FleetEntry>& rows, size_t lines);
// text cut to at most `columns` display cells.
std::string Truncated(const std::string& text, size_t columns);

class FleetTable : public FleetObserver {
public:
    // live: redraw in place on a terminal of the size that terminalSize gives.
    FleetTable(std::FILE* out, bool live, TerminalSizeSource terminalSize = {});
    ~FleetTable() override;
    FleetTable(const FleetTable&) = delete;
    FleetTable& operator=(const FleetTable&) = delete;

    // Shows the rows and, live, starts redrawing them.
    void Start(const std::vector<FleetEntry>& entries);
    void EntryChanged(size_t index, const FleetEntry& entry) override;
    // A notice under the table (live) or a line of the log.
    void Notice(const std::string& text);
    // The last drawing and the summary line.
    void Finish(const std::vector<FleetEntry>& entries);

private:
    void RedrawLoop();
    void DrawLocked();

    std::FILE* out_;
    bool live_;
    TerminalSizeSource terminalSize_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<FleetEntry> rows_;
    std::vector<std::string> logged_;  // the status text last logged per row
    std::vector<std::string> notices_;
    size_t linesDrawn_ = 0;
    bool dirty_ = false;
    bool finished_ = false;
    std::thread redraw_;
};

}  // namespace quorsel
