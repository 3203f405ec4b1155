#include "ui/fleet/fleet_table.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "res/texts.h"
#include "ui/progress_model.h"

namespace quorsel {
namespace {

constexpr size_t ADDRESS_COLUMN = 15;
constexpr size_t MODEL_COLUMN = 6;
constexpr size_t GENERATION_COLUMN = 4;
constexpr size_t BAR_COLUMN = TABLE_BAR_WIDTH + 7;  // "[", the bar, "]", " 100%"
constexpr size_t TIME_COLUMN = 5;                    // "12:34"
// Every column but the status, with the blanks between them.
constexpr size_t COLUMNS_BESIDE_STATUS = ADDRESS_COLUMN + 1 + MODEL_COLUMN + 1 + GENERATION_COLUMN + 1 + 1 + BAR_COLUMN + 1 + TIME_COLUMN;
// The recap's result column: as wide as the longest result name.
constexpr size_t RECAP_RESULT_COLUMN = 21;
constexpr const char* CURSOR_UP_FORMAT = "\x1b[%uA";
constexpr const char* CLEAR_TO_END_OF_LINE = "\x1b[K";
constexpr const char* CLEAR_TO_END_OF_SCREEN = "\x1b[J";

// Decodes the code point at text[i] and moves i past it.
uint32_t NextCodePoint(const std::string& text, size_t& i) {
    const auto byte = [&](size_t at) { return static_cast<uint8_t>(at < text.size() ? text[at] : 0); };
    const uint8_t lead = byte(i);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t value = length == 1 ? lead : length == 2 ? (lead & 0x1Fu) : length == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
    for (size_t k = 1; k < length; ++k) value = (value << 6) | (byte(i + k) & 0x3Fu);
    i += length;
    return value;
}

bool IsWide(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

std::string Padded(const std::string& text, size_t width) {
    const size_t used = DisplayWidth(text);
    return text + std::string(used < width ? width - used : 0, ' ');
}

std::string Filled(const char* format, const std::vector<size_t>& values) {
    std::string text = format;
    for (size_t k = 0; k < values.size(); ++k) {
        std::string mark(1, '%');
        mark += std::to_string(k + 1);
        const size_t at = text.find(mark);
        if (at != std::string::npos) text.replace(at, mark.size(), std::to_string(values[k]));
    }
    return text;
}

std::string Bar(const FleetEntry& entry) {
    if (entry.state != FleetState::RUNNING && entry.state != FleetState::FINISHED) {
        return std::string(BAR_COLUMN, ' ');
    }
    const uint64_t total = entry.counters.total;
    const uint64_t done = std::min<uint64_t>(entry.counters.done, total);
    const size_t filled = total == 0 ? 0 : static_cast<size_t>(done * TABLE_BAR_WIDTH / total);
    const unsigned percent = total == 0 ? 0 : static_cast<unsigned>(done * 100 / total);
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3u%%", percent);
    std::string bar(1, '[');
    bar.append(filled, '#').append(TABLE_BAR_WIDTH - filled, '-').append(1, ']').append(tail);
    return bar;
}

std::string Elapsed(std::chrono::milliseconds elapsed) {
    const long long seconds = elapsed.count() / 1000;
    char text[24];
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

}  // namespace

size_t DisplayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) width += IsWide(NextCodePoint(text, i)) ? 2 : 1;
    return width;
}

std::string StatusTextFor(StatusCode code, const Ipv4Address& address) {
    ProgressModel model(address);
    model.Start();
    model.Apply(code, TransferCounters{});
    return model.state().statusText;
}

std::string FleetStatusText(const FleetEntry& entry) {
    if (entry.result == FleetResult::PLANNED) return TEXT_FLEET_PLANNED;
    if (entry.state == FleetState::FINISHED && entry.restartWatched) {
        switch (entry.restart) {
            case RestartState::AWAITED: return TEXT_FLEET_RESTART_AWAITED;
            case RestartState::SEEN: return TEXT_FLEET_RESTART_SEEN;
            case RestartState::NOT_SEEN: return TEXT_FLEET_RESTART_NOT_SEEN;
            case RestartState::STOPPED: break;
        }
    }
    switch (entry.state) {
        case FleetState::WAITING:
            return TEXT_FLEET_WAITING;
        case FleetState::SKIPPED:
            return TEXT_FLEET_SKIPPED;
        case FleetState::NOT_STARTED:
            return TEXT_FLEET_NOT_STARTED;
        case FleetState::FINISHED:
            return StatusTextFor(entry.outcome, entry.target.address);
        case FleetState::RUNNING:
            break;
    }
    std::string text = StatusTextFor(entry.lastCode, entry.target.address);
    if (entry.awaited) text += std::string(" ") + TEXT_FLEET_AWAITED;
    return text;
}

size_t StatusWidthFor(size_t columns) {
    if (columns >= COLUMNS_BESIDE_STATUS + TABLE_STATUS_WIDTH) return TABLE_STATUS_WIDTH;
    if (columns <= COLUMNS_BESIDE_STATUS + TABLE_STATUS_WIDTH_MIN) return TABLE_STATUS_WIDTH_MIN;
    return columns - COLUMNS_BESIDE_STATUS;
}

std::string FleetHeader(size_t statusWidth) {
    return Padded(TEXT_IP_ADDRESS, ADDRESS_COLUMN) + " " + Padded(TEXT_SEARCH_COLUMN_MODEL, MODEL_COLUMN) + " " +
           Padded(TEXT_SEARCH_COLUMN_GENERATION, GENERATION_COLUMN) + " " +
           Padded(Truncated(TEXT_FLEET_STATE, statusWidth), statusWidth) + " " + std::string(BAR_COLUMN, ' ') + " " +
           TEXT_FLEET_ELAPSED;
}

std::string FleetRow(const FleetEntry& entry, std::chrono::steady_clock::time_point now, size_t statusWidth) {
    const std::string model = entry.target.modelCode.empty() ? "-" : entry.target.modelCode;
    const std::string generation = entry.target.generationDigit == 0 ? "-" : std::string(1, entry.target.generationDigit);
    const bool timed = entry.state == FleetState::RUNNING || entry.state == FleetState::FINISHED;
    return Padded(FormatAddress(entry.target.address), ADDRESS_COLUMN) + " " + Padded(model, MODEL_COLUMN) + " " +
           Padded(generation, GENERATION_COLUMN) + " " + Padded(Truncated(FleetStatusText(entry), statusWidth), statusWidth) +
           " " + Bar(entry) + " " + (timed ? Elapsed(entry.Elapsed(now)) : std::string("-"));
}

std::string FleetSummary(const std::vector<FleetEntry>& entries) {
    size_t completed = 0, failed = 0, aborted = 0, notStarted = 0, skipped = 0, running = 0, waiting = 0;
    for (const FleetEntry& entry : entries) {
        if (entry.state == FleetState::SKIPPED) ++skipped;
        else if (entry.state == FleetState::NOT_STARTED) ++notStarted;
        else if (entry.state == FleetState::WAITING) ++waiting;
        else if (entry.state == FleetState::RUNNING) ++running;
        else if (entry.Completed()) ++completed;
        else if (entry.outcome == STATUS_ABORTED) ++aborted;
        else ++failed;
    }
    if (running + waiting > 0) {
        return Filled(TEXT_FLEET_PROGRESS_FORMAT, {completed, failed, aborted, running, waiting, skipped});
    }
    return Filled(TEXT_FLEET_SUMMARY_FORMAT, {completed, failed, aborted, notStarted, skipped});
}

std::vector<std::string> FleetRecap(const std::vector<FleetEntry>& entries) {
    std::vector<std::string> lines;
    for (const FleetEntry& entry : entries) {
        if (entry.result == FleetResult::UPDATED) continue;
        if (lines.empty()) lines.push_back(TEXT_FLEET_RECAP_HEADING);
        const std::string reason = entry.diagnostic.empty() ? FleetStatusText(entry) : entry.diagnostic;
        lines.push_back(Padded(FormatAddress(entry.target.address), ADDRESS_COLUMN) + " " +
                        Padded(FleetResultName(entry.result), RECAP_RESULT_COLUMN) + " " + reason);
    }
    return lines;
}

std::vector<size_t> RowsThatFit(const std::vector<FleetEntry>& rows, size_t lines) {
    std::vector<size_t> chosen(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) chosen[i] = i;
    if (rows.size() <= lines) return chosen;
    auto rank = [&](size_t i) {
        return rows[i].state == FleetState::RUNNING ? 0 : rows[i].state == FleetState::WAITING ? 1 : 2;
    };
    std::stable_sort(chosen.begin(), chosen.end(), [&](size_t a, size_t b) { return rank(a) < rank(b); });
    chosen.resize(lines);
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

std::string Truncated(const std::string& text, size_t columns) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        const size_t cells = IsWide(NextCodePoint(text, i)) ? 2 : 1;
        if (width + cells > columns) return text.substr(0, start);
        width += cells;
    }
    return text;
}

FleetTable::FleetTable(std::FILE* out, bool live, TerminalSizeSource terminalSize, LineStampSource stamp)
    : out_(out), live_(live), terminalSize_(std::move(terminalSize)), stamp_(std::move(stamp)) {}

FleetTable::~FleetTable() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    wake_.notify_all();
    if (redraw_.joinable()) redraw_.join();
}

void FleetTable::Start(const std::vector<FleetEntry>& entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_ = entries;
    logged_.assign(entries.size(), std::string());
    started_ = true;
    if (live_) {
        DrawLocked();
        redraw_ = std::thread([this] { RedrawLoop(); });
        return;
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
        logged_[i] = FleetStatusText(rows_[i]);
        std::string model = rows_[i].target.modelCode.empty() ? "" : " " + rows_[i].target.modelCode;
        LogLineLocked(FormatAddress(rows_[i].target.address) + ":" + model + " " + logged_[i]);
    }
}

void FleetTable::EntryChanged(size_t index, const FleetEntry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= rows_.size()) return;
    const FleetEntry& was = rows_[index];
    // Most changes move only the counters (one per block): no status line for those.
    const bool sameStatus = was.state == entry.state && was.lastCode == entry.lastCode &&
                            was.awaited == entry.awaited && was.outcome == entry.outcome &&
                            was.restartWatched == entry.restartWatched && was.restart == entry.restart;
    rows_[index] = entry;
    if (live_) {
        dirty_ = true;
        return;
    }
    if (sameStatus) return;
    // The final code's line waits for the end of the run, which brings its diagnostic.
    if (entry.state == FleetState::RUNNING && IsFinalStatus(entry.lastCode)) return;
    const std::string text = FleetStatusText(entry);
    if (text == logged_[index]) return;
    logged_[index] = text;
    std::string line = FormatAddress(entry.target.address) + ": " + text;
    if (entry.state == FleetState::FINISHED && !entry.Completed() && !entry.diagnostic.empty()) {
        line += " (" + entry.diagnostic + ")";
    }
    LogLineLocked(line);
}

void FleetTable::Notice(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_ && started_) {
        notices_.push_back(text);
        dirty_ = true;
        return;
    }
    if (live_) {
        WriteLocked(text + "\n");
        return;
    }
    LogLineLocked(text);
}

void FleetTable::Finish(const std::vector<FleetEntry>& entries) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
    }
    wake_.notify_all();
    if (redraw_.joinable()) redraw_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    rows_ = entries;
    if (live_) DrawLocked(true);
    std::vector<std::string> lines = FleetRecap(entries);
    lines.push_back(FleetSummary(entries));
    for (const std::string& line : lines) {
        if (live_) WriteLocked(line + "\n");
        else LogLineLocked(line);
    }
}

void FleetTable::LogLineLocked(const std::string& text) {
    WriteLocked((stamp_ ? stamp_() + " " : std::string()) + text + "\n");
}

void FleetTable::WriteLocked(const std::string& text) {
    if (outputLost_) return;
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
    // A reader that has gone stays gone: no more lines, and no retries.
    if (std::ferror(out_)) outputLost_ = true;
}

void FleetTable::RedrawLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_) {
        wake_.wait_for(lock, TABLE_REDRAW_INTERVAL, [this] { return finished_; });
        if (finished_) break;
        // Elapsed times move every second even without a change.
        const bool running = std::any_of(rows_.begin(), rows_.end(),
                                         [](const FleetEntry& e) { return e.state == FleetState::RUNNING; });
        if (outputLost_) break;
        if (dirty_ || running) DrawLocked();
    }
}

void FleetTable::DrawLocked(bool allRows) {
    const auto now = std::chrono::steady_clock::now();
    const auto [columns, height] = terminalSize_ ? terminalSize_() : std::pair<size_t, size_t>{0, 0};
    // A line as wide as the terminal would wrap, and the bottom line scrolls: both
    // would move the table away from where the next frame is drawn.
    const size_t width = columns > 1 ? columns - 1 : SIZE_MAX;
    const size_t statusWidth = StatusWidthFor(width);
    // The last frame may scroll: the rows above the screen stay in the scrollback.
    const size_t capacity = height > 1 && !allRows ? height - 1 : SIZE_MAX;
    const size_t fixed = 1 + notices_.size();  // header and notices
    const size_t room = capacity > fixed ? capacity - fixed : 0;
    // Rows that do not fit are stood for by a line that counts every row.
    const bool summarised = rows_.size() > room;
    const std::vector<size_t> shown = RowsThatFit(rows_, summarised && room > 0 ? room - 1 : room);

    std::string frame;
    if (linesDrawn_ > 0) {
        char up[16];
        std::snprintf(up, sizeof up, CURSOR_UP_FORMAT, static_cast<unsigned>(linesDrawn_));
        frame += up;
    }
    size_t lines = 0;
    auto line = [&](const std::string& text) {
        frame += '\r';
        frame += Truncated(text, width);
        frame += CLEAR_TO_END_OF_LINE;
        frame += '\n';
        ++lines;
    };
    line(FleetHeader(statusWidth));
    for (size_t index : shown) line(FleetRow(rows_[index], now, statusWidth));
    if (summarised) line(FleetSummary(rows_));
    for (const std::string& notice : notices_) line(notice);
    frame += CLEAR_TO_END_OF_SCREEN;
    linesDrawn_ = lines;
    WriteLocked(frame);
    dirty_ = false;
}

}  // namespace quorsel
