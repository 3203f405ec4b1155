// The fleet's display. On a terminal: a table with one row per access point
// (address, model, generation, status text, progress bar, elapsed time), redrawn in
// place at most ten times a second. Otherwise: one line per change of a row's
// status, each line led by a timestamp and then its address. At the end, both: a
// recap of every access point that was not updated, then the counts.
// Output that cannot be written (a pipe whose reader has gone, a closed console) is
// given up at the first failed write; the fleet goes on without it.
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
// The status column's width when the terminal is wide enough, and the least it is
// shortened to on a narrow one before the bar and the time are cut.
constexpr size_t TABLE_STATUS_WIDTH = 28;
constexpr size_t TABLE_STATUS_WIDTH_MIN = 8;

// The status text of a row, from the status texts of the update run.
std::string FleetStatusText(const FleetEntry& entry);
// The text of a final code for an access point ("10.0.0.2 に接続できません"...).
std::string StatusTextFor(StatusCode code, const Ipv4Address& address);
// Columns a UTF-8 text takes on a terminal (wide characters take two).
size_t DisplayWidth(const std::string& text);
// The status column's width for lines of at most `columns` cells.
size_t StatusWidthFor(size_t columns);
// One table row (without line end); now gives the elapsed time of running rows.
std::string FleetRow(const FleetEntry& entry, std::chrono::steady_clock::time_point now,
                     size_t statusWidth = TABLE_STATUS_WIDTH);
std::string FleetHeader(size_t statusWidth = TABLE_STATUS_WIDTH);
// The counts by outcome: the summary line at the end, and while runs go on the line
// that stands for the rows a short terminal cannot show.
std::string FleetSummary(const std::vector<FleetEntry>& entries);
// The recap: a heading, then one line per access point that did not end updated
// (address, result, reason: its diagnostic, else its status text); none when every
// one was updated.
std::vector<std::string> FleetRecap(const std::vector<FleetEntry>& entries);

// The terminal's size (columns, rows) for the live table; zeros when not known.
using TerminalSizeSource = std::function<std::pair<size_t, size_t>()>;
// The text that leads each line of the log (not live): the time it is written.
using LineStampSource = std::function<std::string()>;

// The rows a frame of `lines` terminal lines shows: all of them when they fit, else
// the running ones first, then the waiting, then the rest, in their order.
std::vector<size_t> RowsThatFit(const std::vector<FleetEntry>& rows, size_t lines);
// text cut to at most `columns` display cells.
std::string Truncated(const std::string& text, size_t columns);

class FleetTable : public FleetObserver {
public:
    // live: redraw in place on a terminal of the size that terminalSize gives;
    // otherwise lines led by stamp() and a blank (none without a stamp source).
    FleetTable(std::FILE* out, bool live, TerminalSizeSource terminalSize = {}, LineStampSource stamp = {});
    ~FleetTable() override;
    FleetTable(const FleetTable&) = delete;
    FleetTable& operator=(const FleetTable&) = delete;

    // Shows the rows and, live, starts redrawing them.
    void Start(const std::vector<FleetEntry>& entries);
    void EntryChanged(size_t index, const FleetEntry& entry) override;
    // A notice under the table (live) or a line of the log; before Start, a line.
    void Notice(const std::string& text);
    // The last drawing, with every row, the recap and the counts.
    void Finish(const std::vector<FleetEntry>& entries);

private:
    void RedrawLoop();
    // allRows: every row however short the terminal (the last frame, left above the recap).
    void DrawLocked(bool allRows = false);
    void LogLineLocked(const std::string& text);
    // Writes and flushes; after the first failure nothing more is written.
    void WriteLocked(const std::string& text);

    std::FILE* out_;
    bool live_;
    TerminalSizeSource terminalSize_;
    LineStampSource stamp_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<FleetEntry> rows_;
    std::vector<std::string> logged_;  // the status text last logged per row
    std::vector<std::string> notices_;
    size_t linesDrawn_ = 0;
    bool dirty_ = false;
    bool finished_ = false;
    bool started_ = false;
    bool outputLost_ = false;
    std::thread redraw_;
};

}  // namespace quorsel
