// The fleet's display as a person reads it: the final screen of a short terminal and
// the narrow table (the log without a terminal: tests/e2e/fleet_stop_test.cpp); and
// the console's portable parts.
#include "ui/fleet/fleet_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "res/texts.h"
#include "tests/support/temp_dir.h"
#include "ui/fleet/fleet_console.h"

namespace quorsel {
namespace {

constexpr const char* STAMP = "2026-12-09T17:02:03+09:00";

FleetEntry Ended(uint8_t last, FleetResult result, StatusCode outcome, const std::string& diagnostic = "") {
    FleetEntry entry;
    entry.target.address = {10, 79, 2, last};
    entry.target.modelCode = "KRV001";
    entry.target.generationDigit = '2';
    entry.state = FleetState::FINISHED;
    entry.outcome = outcome;
    entry.result = result;
    entry.diagnostic = diagnostic;
    entry.counters = {100, outcome == STATUS_COMPLETE ? 100u : 40u};
    return entry;
}

// Seventeen access points, two of them failed: one in the middle, one at the end.
std::vector<FleetEntry> SeventeenWithTwoFailures() {
    std::vector<FleetEntry> entries;
    for (uint8_t i = 0; i < 17; ++i) entries.push_back(Ended(10 + i, FleetResult::UPDATED, STATUS_COMPLETE));
    entries[4] = Ended(14, FleetResult::FAILED_BEFORE_WRITING, STATUS_BAD_PASSWORD);
    entries[16] = Ended(26, FleetResult::FAILED_WHILE_WRITING, STATUS_WRITE_ERROR, "no reply to block 3");
    return entries;
}

// Runs the table over a file and gives back what it wrote.
std::string Shown(bool live, const std::vector<FleetEntry>& entries, std::pair<size_t, size_t> size) {
    testing::TempDir dir;
    std::FILE* out = std::fopen(dir.File("out").c_str(), "wb");
    {
        FleetTable table(out, live, [size] { return size; }, [] { return std::string(STAMP); });
        std::vector<FleetEntry> waiting = entries;
        for (FleetEntry& entry : waiting) entry.state = FleetState::WAITING;
        table.Start(waiting);
        for (size_t i = 0; i < entries.size(); ++i) table.EntryChanged(i, entries[i]);
        table.Finish(entries);
    }
    std::fclose(out);
    std::ifstream in(dir.File("out"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

const std::string SUMMARY = "正常終了 15 台、失敗 2 台、中断 0 台、未実施 0 台、対象外 0 台";

TEST(FleetTableTest, ShortTerminalEndsWithARecapOfEveryFailureAndTheCountsOnce) {
    const std::string output = Shown(true, SeventeenWithTwoFailures(), {90, 12});
    // From the start of the last frame on (the earlier ones are drawn over).
    const size_t lastFrame = output.rfind(std::string("\r") + TEXT_IP_ADDRESS);
    ASSERT_NE(lastFrame, std::string::npos) << output;
    const std::string shown = output.substr(lastFrame);
    const std::vector<std::string> lines = Lines(shown);
    ASSERT_GE(lines.size(), 4u) << shown;
    // The last lines of the screen: the recap's heading, both failures, the counts.
    const std::string heading = lines[lines.size() - 4];
    EXPECT_EQ(heading.substr(heading.size() - std::string(TEXT_FLEET_RECAP_HEADING).size()), TEXT_FLEET_RECAP_HEADING);
    EXPECT_EQ(lines[lines.size() - 3].rfind("10.79.2.14      failed-before-writing ", 0), 0u) << shown;
    EXPECT_NE(lines[lines.size() - 3].find("パスワードが間違っています"), std::string::npos) << shown;
    EXPECT_EQ(lines[lines.size() - 2], "10.79.2.26      failed-while-writing  no reply to block 3");
    EXPECT_EQ(lines.back(), SUMMARY);
    EXPECT_EQ(Count(shown, SUMMARY), 1u) << shown;
    // The last frame holds every row, the ones the short screen could not show too.
    for (int last = 10; last <= 26; ++last) {
        EXPECT_GE(Count(shown, "10.79.2." + std::to_string(last) + " "), 1u) << last;
    }
    EXPECT_EQ(Count(output, STAMP), 0u);
}

TEST(FleetTableTest, NarrowTerminalShortensTheStatusBeforeTheBarAndTheTime) {
    FleetEntry entry = Ended(10, FleetResult::NONE, STATUS_NONE);
    entry.state = FleetState::RUNNING;
    entry.lastCode = STATUS_FLASH_WRITING;
    entry.awaited = true;  // the longest status text: with "(完了待ち)"
    const auto now = std::chrono::steady_clock::now();
    entry.started = now - std::chrono::seconds(75);
    const std::string wide = FleetRow(entry, now, StatusWidthFor(200));
    EXPECT_EQ(StatusWidthFor(200), TABLE_STATUS_WIDTH);
    for (size_t columns : {size_t{79}, size_t{70}, size_t{64}}) {
        SCOPED_TRACE(columns);
        const std::string row = FleetRow(entry, now, StatusWidthFor(columns));
        EXPECT_LE(DisplayWidth(row), columns);
        // Bar and time whole: the row ends as the wide one does.
        const std::string tail = "[###-----]  40% 1:15";
        EXPECT_EQ(row.substr(row.size() - tail.size()), tail) << row;
        EXPECT_EQ(wide.substr(wide.size() - tail.size()), tail) << wide;
        EXPECT_EQ(DisplayWidth(FleetHeader(StatusWidthFor(columns))), DisplayWidth(row));
    }
    EXPECT_EQ(StatusWidthFor(30), TABLE_STATUS_WIDTH_MIN);
}

TEST(FleetConsoleTest, YesAnswersAndLocalTimestamps) {
    for (const char* yes : {"y", "Y", "yes", "YES", " yes\r\n", "はい"}) EXPECT_TRUE(IsYesAnswer(yes)) << yes;
    for (const char* no : {"", "n", "no", "yess", "y es", "いいえ", "はいはい"}) EXPECT_FALSE(IsYesAnswer(no)) << no;

    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 9;
    local.tm_hour = 17;
    local.tm_min = 2;
    local.tm_sec = 3;
    EXPECT_EQ(FormatLocalTimestamp(local, 9 * 3600), STAMP);
    EXPECT_EQ(FormatLocalTimestamp(local, 0), "2026-12-09T17:02:03+00:00");
    EXPECT_EQ(FormatLocalTimestamp(local, -(3 * 3600 + 30 * 60)), "2026-12-09T17:02:03-03:30");
    EXPECT_EQ(FormatLocalTimestamp(local, 5 * 3600 + 45 * 60), "2026-12-09T17:02:03+05:45");
    // This machine's own: the same form.
    const std::string now = LocalTimestamp(std::chrono::system_clock::now());
    ASSERT_EQ(now.size(), std::string(STAMP).size()) << now;
    EXPECT_EQ(now[10], 'T');
    EXPECT_TRUE(now[19] == '+' || now[19] == '-') << now;
}

}  // namespace
}  // namespace quorsel
