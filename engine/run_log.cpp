#include "engine/run_log.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quorsel {
namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

std::string DayText(std::chrono::sys_days day) {
    const std::chrono::year_month_day date{day};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

// "2026-12-09T16:50:01.123Z"
std::string TimeText(RunLogRecord::Time time) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(time);
    const auto day = floor<days>(ms);
    const hh_mm_ss<milliseconds> clock{ms - day};
    char text[40];
    std::snprintf(text, sizeof text, "%sT%02d:%02d:%02d.%03dZ", DayText(day).c_str(),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string FileNameFor(std::chrono::sys_days day) {
    return std::string(RUN_LOG_FILE_PREFIX) + DayText(day) + RUN_LOG_FILE_SUFFIX;
}

// Removes the day files older than RUN_LOG_DAYS_KEPT days before today; other files stay.
void RemoveOldFiles(const fs::path& folder, std::chrono::sys_days today) {
    const std::string oldestKept = FileNameFor(today - std::chrono::days(RUN_LOG_DAYS_KEPT - 1));
    const std::string prefix = RUN_LOG_FILE_PREFIX;
    const size_t nameLength = oldestKept.size();
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return;
    std::vector<fs::path> old;
    for (const fs::directory_entry& entry : entries) {
        const std::string name = Utf8Of(entry.path().filename());
        if (name.size() != nameLength || name.rfind(prefix, 0) != 0) continue;
        if (name.compare(name.size() - std::string(RUN_LOG_FILE_SUFFIX).size(), std::string::npos,
                         RUN_LOG_FILE_SUFFIX) != 0) {
            continue;
        }
        if (name < oldestKept) old.push_back(entry.path());  // the dates sort as text
    }
    for (const fs::path& path : old) fs::remove(path, error);
}

}  // namespace

std::string FormatRunLogRecord(const RunLogRecord& record) {
    std::string text = "=== run " + TimeText(record.started) + "\n";
    text += "program: " + record.programVersion + ", " + record.programPath + "\n";
    text += "firmware: model " + (record.firmwareModel.empty() ? std::string("(unread)") : record.firmwareModel) +
            ", container sha256 " + (record.firmwareSha256.empty() ? std::string("(unread)") : record.firmwareSha256) +
            "\n";
    text += "job: " + record.transport + " " + record.target;
    if (record.baudRate != 0) text += ", " + std::to_string(record.baudRate) + " baud";
    text += ", regions";
    bool any = false;
    for (int region = 0; region < 6; ++region) {
        if ((record.regions >> region) & 1U) {
            text += " " + std::to_string(region);
            any = true;
        }
    }
    if (!any) text += " none";
    text += "\n";
    for (const FlashRange& range : record.ranges) {
        text += "range: start " + Hex(range.start) + " length " + Hex(range.length) + "\n";
    }
    // A run of the same code (a progress code per block) is one line: its first
    // time, how many, and its last time.
    for (size_t first = 0; first < record.codes.size();) {
        const RunLogRecord::Code& code = record.codes[first];
        size_t last = first;
        while (last + 1 < record.codes.size() && record.codes[last + 1].code == code.code) ++last;
        text += "status: " + TimeText(code.time) + " " + std::to_string(static_cast<int>(code.code)) + " " +
                StatusCodeName(code.code);
        if (last > first) {
            text += " x" + std::to_string(last - first + 1) + " until " + TimeText(record.codes[last].time);
        }
        text += "\n";
        first = last + 1;
    }
    if (!record.diagnostic.empty()) text += "diagnostic: " + record.diagnostic + "\n";
    text += "outcome: " + std::to_string(static_cast<int>(record.outcome)) + " " + StatusCodeName(record.outcome) + "\n";
    return text;
}

bool RunLog::MakeFolder() const {
    if (folder_.empty()) return false;
    try {
        std::error_code error;
        fs::create_directories(PathOf(folder_), error);
        return fs::is_directory(PathOf(folder_), error);
    } catch (...) {
        return false;
    }
}

std::optional<std::string> RunLog::Append(const RunLogRecord& record) {
    if (folder_.empty()) return std::nullopt;
    try {
        const std::string text = FormatRunLogRecord(record) + "\n";
        const auto day = std::chrono::floor<std::chrono::days>(record.started);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!MakeFolder()) return std::nullopt;
        const fs::path folder = PathOf(folder_);
        RemoveOldFiles(folder, std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
        fs::path file = folder / PathOf(FileNameFor(day));
        file.make_preferred();  // one kind of separator in the path shown to the user
        std::ofstream out(file, std::ios::binary | std::ios::app);
        if (!out) return std::nullopt;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) return std::nullopt;
        lastFile_ = Utf8Of(file);
        return lastFile_;
    } catch (...) {
        return std::nullopt;  // a log that cannot be written changes nothing
    }
}

std::string RunLog::LastFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastFile_;
}

}  // namespace quorsel
