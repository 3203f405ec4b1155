#include "engine/update_run.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/options.h"
#include "engine/reply_reader.h"
#include "engine/serial_protocol.h"
#include "engine/transfer.h"
#include "image/checksums.h"
#include "image/container.h"
#include "image/sha256.h"
#include "res/texts.h"

namespace quorsel {
namespace {

// The completion wait's limits for a silence bound: as many empty polls as fill it,
// and twice it for a loader that sends only bytes that are no report.
CompletionLimits CompletionLimitsFor(const PeerTimeouts& timeouts) {
    CompletionLimits limits;
    const auto polls = timeouts.completionSilence / limits.pollInterval;
    limits.silencePolls = static_cast<uint32_t>(std::clamp<int64_t>(polls, 1, COMPLETION_SILENCE_POLLS));
    limits.reportLimit = 2 * limits.silencePolls * limits.pollInterval;
    return limits;
}

std::string RangeText(const FlashRange& range) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%X+0x%X", range.start, range.length);
    return text;
}

std::string ShortFileText(const FlashRange& range, uint32_t sent) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "sending range 0x%X+0x%X: the program file ended after 0x%X of its bytes (it changed during the run)",
                  range.start, range.length, sent);
    return text;
}

// The SHA-256 of the container's bytes, from its signature to the image's end.
std::string ContainerSha256(ContainerInfo& info) {
    const uint64_t end = uint64_t{info.imageStart} + info.imageSize;
    if (!info.stream.Seek(info.containerOffset)) return {};
    Sha256 digest;
    std::array<uint8_t, 4096> block{};
    for (uint64_t left = end - info.containerOffset; left > 0;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
        const size_t got = info.stream.Read(block.data(), want);
        if (got != want) return {};
        digest.Add(block.data(), got);
        left -= got;
    }
    return HexDigest(digest.Finish());
}

std::string AddressText(const std::array<uint8_t, 4>& address) {
    return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
           std::to_string(address[3]);
}

// What the record says before the run starts.
RunLogRecord StartRecord(const RunSettings& settings) {
    RunLogRecord record;
    record.started = std::chrono::system_clock::now();
    record.programVersion = TEXT_ABOUT_VERSION;
    record.programPath = settings.programPath;
    record.regions = static_cast<uint16_t>(settings.optionFlags & OPTION_REGION_MASK);
    if (settings.transport == 0) {
        record.transport = "LAN";
        record.target = AddressText(settings.peer.address);
    } else {
        record.transport = "serial";
        record.target = settings.portName.empty() ? "COM" + std::to_string(settings.comIndex + 1) : settings.portName;
        record.baudRate = settings.baudRate;
    }
    return record;
}

// Passes every code and diagnostic on to the front-end, and notes them in the record.
class RecordingSink : public StatusSink {
public:
    RecordingSink(StatusSink& inner, RunLogRecord& record) : inner_(inner), record_(record) {}
    void Notify(StatusCode code, const TransferCounters& counters) override {
        record_.codes.push_back({std::chrono::system_clock::now(), code});
        inner_.Notify(code, counters);
    }
    void Post(StatusCode code, const TransferCounters& counters) override {
        record_.codes.push_back({std::chrono::system_clock::now(), code});
        inner_.Post(code, counters);
    }
    void Diagnose(const std::string& line) override {
        record_.diagnostic = line;
        inner_.Diagnose(line);
    }

private:
    StatusSink& inner_;
    RunLogRecord& record_;
};

// State of one run; everything it holds is closed when it goes out of scope.
class Run {
public:
    Run(const RunSettings& settings, RunServices& services, RunLogRecord* record)
        : settings_(settings), services_(services), raiser_(services.sink, counters_), record_(record) {}

    StatusCode Execute() {
        auto opened = OpenContainer(settings_.programPath, descrambler_);
        if (!opened) {
            return Fail(STATUS_FILE_ERROR, std::string("opening the firmware container in ") +
                                               settings_.programPath + ": " +
                                               DescribeContainerError(opened.error()));
        }
        info_.emplace(std::move(opened.value()));
        ranges_ = MergeRegions(*info_->regions, settings_.optionFlags);
        if (record_ != nullptr) {
            record_->firmwareModel.assign(reinterpret_cast<const char*>(info_->trailerTail.data()), MODEL_CODE_LENGTH);
            record_->firmwareSha256 = ContainerSha256(*info_);
            record_->ranges = ranges_;
        }
        for (const FlashRange& range : ranges_) {
            // A 4 MiB layout over a 2 MiB image: the range would run past the image,
            // so the access point would get a short range. Refuse before sending anything.
            if (uint64_t{range.start} + range.length > info_->imageSize) {
                return Fail(STATUS_FILE_ERROR, "planning the flash ranges: range " + RangeText(range) +
                                                   " runs past the end of the image");
            }
        }
        bool prepared = settings_.transport == 0 ? PrepareLan() : PrepareSerial();
        if (!prepared) return raiser_.last();
        for (const FlashRange& range : ranges_) {
            bool written = settings_.transport == 0 ? WriteLanRange(range) : WriteSerialRange(range);
            if (!written) return raiser_.last();
        }
        return Raise(STATUS_COMPLETE);
    }

private:
    StatusCode Raise(StatusCode code) {
        raiser_.Raise(code);
        return code;
    }

    StatusCode Fail(StatusCode code, const std::string& diagnostic) {
        raiser_.Fail(code, diagnostic);
        return code;
    }

    bool AskPassword() {
        std::optional<std::string> password = services_.password.AskPassword();
        if (!password) {
            Raise(STATUS_ABORTED);
            return false;
        }
        passwordDigest_ = PasswordDigest(*password);
        return true;
    }

    bool PrepareLan() {
        Raise(STATUS_CONNECTING);
        InquiryResult inquiry;
        if (!RunInquiry(services_.network, settings_.peer, settings_.timeouts, raiser_, inquiry)) {
            return false;
        }
        generation_ = inquiry.generation;
        if (generation_ == Generation::New && !AskPassword()) return false;
        if ((settings_.optionFlags & OPTION_SKIP_MODEL_CHECK) == 0) {
            const uint8_t* code = info_->trailerTail.data();
            bool same = inquiry.line.size() >= MODEL_CODE_LENGTH &&
                        std::memcmp(inquiry.line.data(), code, MODEL_CODE_LENGTH) == 0;
            if (!same) {
                Fail(STATUS_WRONG_MODEL, "checking the model: the access point reports \"" +
                                             inquiry.line.substr(0, MODEL_CODE_LENGTH) + "\", the firmware is for \"" +
                                             std::string(reinterpret_cast<const char*>(code), MODEL_CODE_LENGTH) +
                                             "\"");
                return false;
            }
        }
        if (ranges_.empty()) {
            Raise(STATUS_COMPLETE);
            return false;
        }
        return true;
    }

    bool PrepareSerial() {
        if (!AskPassword()) return false;
        auto loaded = ReadLoader(*info_, loader_);
        if (!loaded) {
            Fail(STATUS_FILE_ERROR, std::string("reading the loader: ") + DescribeContainerError(loaded.error()));
            return false;
        }
        loaderLength_ = loaded.value();
        if (ranges_.empty()) {
            Raise(STATUS_COMPLETE);
            return false;
        }
        return true;
    }

    // The range checksum for the header; a file that cannot be read gives the
    // failure value, which is never sent.
    std::optional<uint16_t> RangeChecksum(const FlashRange& range, bool descrambled) {
        uint64_t fileOffset = uint64_t{info_->imageStart} + range.start;
        uint16_t sum = descrambled
                           ? DescrambledRangeChecksum(info_->stream, descrambler_, fileOffset, range.start, range.length)
                           : RawRangeChecksum(info_->stream, fileOffset, range.start, range.length);
        if (sum == CHECKSUM_FAILED) {
            Fail(STATUS_FILE_ERROR, "computing the checksum of range " + RangeText(range) + ": the file could not be read");
            return std::nullopt;
        }
        return sum;
    }

    bool WriteLanRange(const FlashRange& range) {
        counters_.done = 0;
        Raise(STATUS_PROGRESS);
        // The socket is closed and the library released before the pause.
        if (!ExchangeLanRange(range)) return false;
        services_.sleep(PAUSE_AFTER_RANGE);
        return true;
    }

    // One range over its own connection, with its own start of the sockets library.
    bool ExchangeLanRange(const FlashRange& range) {
        SocketLibrarySession library(services_.network);
        if (!library.started()) {
            Fail(STATUS_CONNECT_FAILED, "starting the sockets library for range " + RangeText(range));
            return false;
        }
        services_.sleep(PAUSE_BEFORE_CONNECT);
        std::unique_ptr<ByteStream> connection = services_.network.Connect(settings_.peer, settings_.timeouts.connect);
        if (!connection) {
            Fail(STATUS_CONNECT_FAILED, "connecting for range " + RangeText(range) + ": the connection was refused or timed out");
            return false;
        }
        ReplyReader reader(settings_.timeouts.lanRead);
        bool old = generation_ == Generation::Old;
        RangeHeader header;
        header.start = range.start;
        header.length = range.length;
        auto sum = RangeChecksum(range, old);
        if (!sum) return false;
        header.checksum = *sum;
        header.passwordDigest = old ? 0 : passwordDigest_;
        RangeExchange exchange{*connection, reader,      header,       info_->stream,
                               info_->imageStart, range, generation_, descrambler_,
                               settings_.timeouts.flashWork};
        if (!RunRangeExchange(exchange, raiser_)) {
            return false;
        }
        if (counters_.done < range.length) {
            // The file ended inside the range although the plan kept every range within
            // the image: it changed during the run. The access point got fewer bytes than
            // the header announced, whatever it answered, so the range is not written.
            Fail(STATUS_FILE_ERROR, ShortFileText(range, counters_.done));
            return false;
        }
        connection.reset();  // close the socket before the library is released
        return true;
    }

    bool WriteSerialRange(const FlashRange& range) {
        counters_.done = 0;
        Raise(STATUS_PROGRESS);
        std::unique_ptr<SerialLine> line;
        {
            PowerOnWait wait = settings_.portName.empty()
                                   ? PowerOnWait(services_.serialPorts, settings_.comIndex, settings_.baudRate)
                                   : PowerOnWait(services_.serialPorts, settings_.portName, settings_.baudRate);
            bool answered = services_.powerOn.Show(wait);
            wait.Stop();
            if (answered) line = wait.TakeLine();
            if (!line) {
                raiser_.Post(STATUS_ABORTED);
                return false;
            }
        }
        auto sum = RangeChecksum(range, false);
        if (!sum) return false;
        RangeHeader header;
        header.checksum = *sum;
        header.start = range.start;
        header.length = range.length;
        header.passwordDigest = passwordDigest_;
        Raise(STATUS_TRANSFERRING);
        if (!info_->stream.Seek(uint64_t{info_->imageStart} + range.start)) {
            Fail(STATUS_FILE_ERROR, "positioning the file at range " + RangeText(range));
            return false;
        }
        counters_.done = 0;
        counters_.total = loaderLength_ + static_cast<uint32_t>(RANGE_HEADER_SIZE) + range.length;
        UploadStream upload{loader_.data(), loaderLength_, header.Encode(), info_->stream};
        if (!SendUploadStream(*line, upload, raiser_, settings_.timeouts)) {
            return false;
        }
        // A stream cut short by a file that changed during the run: the loader still
        // reports what it did with it, but the range is not the one announced.
        const bool cutShort = counters_.done < counters_.total;
        const uint32_t streamDone = counters_.done;
        Raise(STATUS_SERIAL_PROGRESS);
        if (!WaitForCompletion(*line, raiser_, services_.erasingOut, CompletionLimitsFor(settings_.timeouts))) {
            return false;
        }
        line->Release();
        if (cutShort) {
            const uint32_t headed = loaderLength_ + static_cast<uint32_t>(RANGE_HEADER_SIZE);
            Fail(STATUS_FILE_ERROR, ShortFileText(range, streamDone > headed ? streamDone - headed : 0));
            return false;
        }
        services_.sleep(PAUSE_AFTER_RANGE);
        return true;
    }

    const RunSettings& settings_;
    RunServices& services_;
    TransferCounters counters_;
    StatusRaiser raiser_;
    Descrambler descrambler_;
    std::optional<ContainerInfo> info_;
    std::vector<FlashRange> ranges_;
    Generation generation_ = Generation::New;
    uint32_t passwordDigest_ = 0;
    std::array<uint8_t, LOADER_MAX> loader_{};
    uint32_t loaderLength_ = 0;
    RunLogRecord* record_;
};

}  // namespace

StatusCode RunUpdate(const RunSettings& settings, RunServices& services) {
    if (settings.log == nullptr) {
        Run run(settings, services, nullptr);
        return run.Execute();
    }
    RunLogRecord record = StartRecord(settings);
    RecordingSink sink(services.sink, record);
    RunServices recorded{sink,
                         services.password,
                         services.powerOn,
                         services.network,
                         services.serialPorts,
                         services.sleep,
                         services.erasingOut};
    {
        Run run(settings, recorded, &record);
        record.outcome = run.Execute();
    }
    // A log that cannot be written changes nothing of the run.
    static_cast<void>(settings.log->Append(record));
    return record.outcome;
}

CAPThread::~CAPThread() {
    if (thread_.joinable()) thread_.join();
}

void CAPThread::Start(RunSettings settings, RunServices& services) {
    thread_ = std::thread([this, settings = std::move(settings), &services] { result_ = RunUpdate(settings, services); });
}

StatusCode CAPThread::Join() {
    if (thread_.joinable()) thread_.join();
    return result_;
}

void CAPThread::Detach() {
    if (thread_.joinable()) thread_.detach();
}

}  // namespace quorsel
