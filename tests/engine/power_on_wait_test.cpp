#include "engine/power_on_wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_serial_line.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::FakeInbound;
using testing::FakeSerialLine;
using testing::FakeSerialPorts;

// Collects the events a wait reports, from its worker thread.
class EventLog {
public:
    std::function<void(PowerOnEvent)> Callback() {
        return [this](PowerOnEvent event) {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
            changed_.notify_all();
        };
    }
    // Waits (bounded) for the first event.
    std::optional<PowerOnEvent> First(std::chrono::milliseconds limit = 10s) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, limit, [this] { return !events_.empty(); })) return std::nullopt;
        return events_.front();
    }
    std::vector<PowerOnEvent> All() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PowerOnEvent> events_;
};

std::string AsText(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Waits (bounded) until the port has handed out a line that has seen n writes.
std::shared_ptr<FakeSerialLine> LineAfterWrites(FakeSerialPorts& ports, size_t n) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        auto lines = ports.lines();
        if (!lines.empty() && lines[0]->Writes().size() >= n) return lines[0];
        std::this_thread::sleep_for(1ms);
    }
    return nullptr;
}

TEST(PowerOnWaitTest, WakesWithXUntilTheStarAndHandsTheOpenLineOver) {
    FakeSerialPorts ports;
    size_t writes = 0;
    ports.PrepareLines([&](FakeSerialLine& line) {
        // Boot text and noise first, one byte per pass, then the ready byte.
        line.OnWrite([&](const std::vector<uint8_t>&) {
            ++writes;
            if (writes == 1) return Answer({'B', 'o'});
            if (writes == 2) return Answer({0x00});
            if (writes == 5) return Answer({'*', 'C'});
            return std::vector<FakeInbound>{};
        });
    });
    EventLog events;
    std::unique_ptr<SerialLine> taken;
    {
        PowerOnWait wait(ports, 2, 57600, 1ms);
        wait.Start(events.Callback());
        ASSERT_EQ(events.First(), PowerOnEvent::Answered);
        wait.Stop();
        taken = wait.TakeLine();
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(wait.TakeLine(), nullptr);  // handed over once
    }
    ASSERT_EQ(ports.opens().size(), 1u);
    EXPECT_EQ(ports.opens()[0].comIndex, 2u);
    EXPECT_EQ(ports.opens()[0].baudRate, 57600u);
    auto line = ports.lines()[0];
    // "B", "o", 0x00 and nothing: four passes, the fourth poll finds nothing and the
    // fifth finds "*". The "C" behind it stays on the line for the upload.
    EXPECT_EQ(AsText(line->Written()), "XXXXX");
    EXPECT_EQ(line->PendingInbound(), 1u);
    EXPECT_EQ(events.All().size(), 1u);
    EXPECT_FALSE(line->released());  // the wait ended, but the line is the taker's now
    taken.reset();
    EXPECT_TRUE(line->released());
}

TEST(PowerOnWaitTest, EachPassLooksAtOneByteOnly) {
    FakeSerialPorts ports;
    ports.PrepareLines([](FakeSerialLine& line) { line.Feed("ab*"); });
    EventLog events;
    PowerOnWait wait(ports, 0, 115200, 1ms);
    wait.Start(events.Callback());
    ASSERT_EQ(events.First(), PowerOnEvent::Answered);
    wait.Stop();
    auto line = ports.lines()[0];
    EXPECT_EQ(AsText(line->Written()), "XXX");
    EXPECT_EQ(line->PollCalls(), 3u);
}

TEST(PowerOnWaitTest, OpenAndSetupFailuresAreReportedWithoutALine) {
    for (SerialOpenError error : {SerialOpenError::OpenFailed, SerialOpenError::SetupFailed}) {
        FakeSerialPorts ports;
        ports.FailOpens(error);
        EventLog events;
        PowerOnWait wait(ports, 3, 9600, 1ms);
        wait.Start(events.Callback());
        auto expected = error == SerialOpenError::OpenFailed ? PowerOnEvent::OpenFailed : PowerOnEvent::SetupFailed;
        EXPECT_EQ(events.First(), expected);
        wait.Stop();
        EXPECT_EQ(wait.TakeLine(), nullptr);
        EXPECT_EQ(events.All().size(), 1u);
        EXPECT_EQ(ports.opens().size(), 1u);
    }
}

TEST(PowerOnWaitTest, StopDuringTheWakeUpEndsThePassAndReleasesTheLine) {
    FakeSerialPorts ports;
    // The access point answers at once, but the answer would only be looked at after
    // the pause, which Stop cuts short.
    ports.PrepareLines([](FakeSerialLine& line) {
        line.OnWrite([](const std::vector<uint8_t>&) { return Answer({'*'}); });
    });
    EventLog events;
    PowerOnWait wait(ports, 0, 115200, 60s);
    wait.Start(events.Callback());
    auto line = LineAfterWrites(ports, 1);
    ASSERT_NE(line, nullptr);

    auto before = std::chrono::steady_clock::now();
    wait.Stop();
    // Far below the 60 s pause: the pause was interrupted, not waited out.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);

    EXPECT_TRUE(line->released());
    EXPECT_EQ(line->PollCalls(), 0u);
    EXPECT_TRUE(events.All().empty());
    EXPECT_EQ(wait.TakeLine(), nullptr);
    const size_t releases = line->releaseCalls();
    wait.Stop();  // again: nothing happens
    EXPECT_EQ(line->releaseCalls(), releases);
    EXPECT_TRUE(events.All().empty());
}

TEST(PowerOnWaitTest, NoEventAfterStopEvenIfTheAnswerComesLate) {
    FakeSerialPorts ports;
    std::shared_ptr<FakeSerialLine> opened;
    ports.PrepareLines([](FakeSerialLine&) {});
    EventLog events;
    {
        PowerOnWait wait(ports, 1, 115200, 1ms);
        wait.Start(events.Callback());
        opened = LineAfterWrites(ports, 3);
        ASSERT_NE(opened, nullptr);
        wait.Stop();
        opened->Feed("*");  // the access point answers after the prompt ended
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(events.All().empty());
    EXPECT_TRUE(opened->released());
    EXPECT_EQ(opened->PendingInbound(), 1u);  // nobody read it
}

TEST(PowerOnWaitTest, StartAfterStopAndASecondStartDoNothing) {
    FakeSerialPorts ports;
    {
        PowerOnWait wait(ports, 0, 115200, 1ms);
        wait.Stop();
        wait.Start([](PowerOnEvent) {});
    }
    EXPECT_TRUE(ports.opens().empty());

    ports.PrepareLines([](FakeSerialLine& line) { line.Feed("*"); });
    EventLog events;
    PowerOnWait wait(ports, 0, 115200, 1ms);
    wait.Start(events.Callback());
    wait.Start(events.Callback());
    ASSERT_EQ(events.First(), PowerOnEvent::Answered);
    wait.Stop();
    EXPECT_EQ(ports.opens().size(), 1u);
    EXPECT_EQ(events.All().size(), 1u);
}

TEST(PowerOnWaitTest, DestroyingTheWaitReleasesALineThatWasNotTaken) {
    FakeSerialPorts ports;
    ports.PrepareLines([](FakeSerialLine& line) { line.Feed("*"); });
    EventLog events;
    std::shared_ptr<FakeSerialLine> line;
    {
        PowerOnWait wait(ports, 0, 115200, 1ms);
        wait.Start(events.Callback());
        ASSERT_EQ(events.First(), PowerOnEvent::Answered);
        line = ports.lines()[0];
        EXPECT_FALSE(line->released());
    }
    EXPECT_TRUE(line->released());
}

TEST(PowerOnWaitTest, DestroyingAWaitThatIsStillWakingStopsIt) {
    FakeSerialPorts ports;
    std::shared_ptr<FakeSerialLine> line;
    EventLog events;
    {
        PowerOnWait wait(ports, 0, 115200, 60s);
        wait.Start(events.Callback());
        line = LineAfterWrites(ports, 1);
        ASSERT_NE(line, nullptr);
    }
    EXPECT_TRUE(line->released());
    EXPECT_TRUE(events.All().empty());
}

}  // namespace
}  // namespace quorsel
