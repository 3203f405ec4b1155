#include "tests/reliability/serial_cell.h"

#include <memory>
#include <mutex>
#include <vector>

#include "tests/reliability/process_probe.h"
#include "tests/reliability/run_harness.h"
#include "tests/support/fake_network.h"
#include "tests/support/fake_serial_line.h"

namespace quorsel::testing {
namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t GARBAGE = '?';

// The boot code and the loader, answering each write; at the faulty step it hangs
// up, says nothing, or says something that is no answer (and then nothing).
class MisbehavingAccessPoint {
public:
    MisbehavingAccessPoint(const SerialStep& step, Fault fault) : step_(step), fault_(fault) {}

    std::vector<FakeInbound> Answer(const std::vector<uint8_t>& written) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (written.size() == 1 && written[0] == 'X') {
            if (answeredWakeUp_) return {};
            if (step_.point == SerialPoint::WakeUp) return Misbehave();
            answeredWakeUp_ = true;
            if (step_.point == SerialPoint::Ready) {
                std::vector<FakeInbound> answer = testing::Answer({'*'});
                std::vector<FakeInbound> rest = Misbehave();
                answer.insert(answer.end(), rest.begin(), rest.end());
                return answer;
            }
            return testing::Answer({'*', 'C'});
        }
        if (written.size() == 1 && written[0] == EOT) {
            if (step_.point == SerialPoint::EndMark) return Misbehave();
            std::vector<FakeInbound> answer = testing::Answer({ACK, 'E', 'P'});
            if (step_.point == SerialPoint::Completion) {
                std::vector<FakeInbound> rest = Misbehave();
                answer.insert(answer.end(), rest.begin(), rest.end());
                return answer;
            }
            answer.push_back({SerialRead::Byte, 'F'});
            return answer;
        }
        if (!written.empty() && written[0] == STX) {
            // A resend carries the number of the block before it.
            if (written.size() > 1 && written[1] != lastNumber_) {
                lastNumber_ = written[1];
                ++block_;
            }
            if (step_.point == SerialPoint::Block && block_ == step_.block) return Misbehave();
            return testing::Answer({ACK});
        }
        return {};
    }

private:
    std::vector<FakeInbound> Misbehave() const {
        switch (fault_) {
            case Fault::Close: return AnswerGone();
            case Fault::Silent: return AnswerSilence();
            case Fault::Garbage: return testing::Answer({GARBAGE, 0x00, 0xFF});
        }
        return {};
    }

    const SerialStep& step_;
    Fault fault_;
    std::mutex mutex_;
    bool answeredWakeUp_ = false;
    uint8_t lastNumber_ = 0;
    uint32_t block_ = 0;
};

}  // namespace

SerialCellOutcome RunSerialCell(const std::string& path, const SerialStep& step, Fault fault,
                                std::chrono::milliseconds patience) {
    SerialCellOutcome outcome;
    auto accessPoint = std::make_shared<MisbehavingAccessPoint>(step, fault);
    FakeNetwork network;
    FakeSerialPorts ports;
    ports.PrepareLines([accessPoint](FakeSerialLine& line) {
        line.OnWrite([accessPoint](const std::vector<uint8_t>& written) { return accessPoint->Answer(written); });
    });
    FrontEnd front;
    front.powerOn.patience = patience;
    outcome.descriptorsBefore = OpenDescriptorCount();
    const auto started = std::chrono::steady_clock::now();
    outcome.code = front.Run(ShortRunSettings(path, 1, MATRIX_REGIONS), network, ports);
    outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    outcome.descriptorsAfter = OpenDescriptorCount();
    outcome.completeRaised = front.sink.Count(STATUS_COMPLETE) > 0;
    for (const auto& line : ports.lines()) {
        ++outcome.linesOpened;
        if (line->released()) ++outcome.linesReleased;
    }
    return outcome;
}

}  // namespace quorsel::testing
