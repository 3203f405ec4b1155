// Stopping one update run from another thread without cutting off its access point's
// flash work: a stop switch that the run's front-end marks busy while the access
// point erases or writes, and a network that ends the run's waits once a stop is
// asked for outside that time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "engine/lan_protocol.h"

namespace quorsel {

// A stop that is asked for while the access point is busy waits until it is no
// longer busy (the range has ended); the run then ends at its next wait.
constexpr std::chrono::milliseconds STOP_CHECK_INTERVAL{100};
// A wait under way when the stop comes still takes a reply that arrives this soon:
// the access point may have accepted a range header just before.
constexpr std::chrono::milliseconds STOP_REPLY_GRACE{500};

class RunStopSwitch {
public:
    // From any thread.
    void RequestStop();
    // From the run's own thread (its status sink): the access point erases or writes.
    void SetBusy(bool busy);

    bool StopRequested() const;
    bool Busy() const;
    // A stop was asked for and the access point is not busy: the run ends now.
    bool StopNow() const;
    // The run's fixed pauses: sleeps for pause, or less when the run is to end now.
    void Sleep(std::chrono::milliseconds pause);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool busy_ = false;
};

// The first reply line that the run receives: its inquiry's answer, which names the
// access point's model and generation.
class InquiryTap {
public:
    void Add(const uint8_t* bytes, size_t n);
    // The line so far (up to its line end); complete() once the end was seen.
    std::string Line() const;
    bool Complete() const;

private:
    mutable std::mutex mutex_;
    std::string line_;
    bool complete_ = false;
};

// Passes every call to the platform's network; every wait on the peer is cut into
// slices of STOP_CHECK_INTERVAL. Once the switch says StopNow() no connect or send is
// made and a wait ends within STOP_REPLY_GRACE: the run sees a failed call at the
// step it was at. No range header is sent after a stop, and one sent before it gets
// the grace for its answer.
class StoppableNetwork : public Network {
public:
    StoppableNetwork(Network& inner, RunStopSwitch& stop, InquiryTap* tap = nullptr)
        : inner_(inner), stop_(stop), tap_(tap) {}

    bool StartLibrary() override { return inner_.StartLibrary(); }
    void ReleaseLibrary() override { inner_.ReleaseLibrary(); }
    std::unique_ptr<ByteStream> Connect(const PeerAddress& peer, std::chrono::milliseconds timeout) override;

private:
    Network& inner_;
    RunStopSwitch& stop_;
    InquiryTap* tap_;
    bool firstConnection_ = true;
};

}  // namespace quorsel
