// The hand-over of status codes from the run's worker to the progress dialog, with a
// message-only window standing in for the dialog.
#include "ui/win32/status_hand_over.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "res/resource_ids.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;

// Far beyond what a hand-over takes; only a code that never arrives reaches it.
constexpr auto ARRIVAL_BOUND = 10s;

// Takes each code on the status command and records it with its counters' done.
class StandInDialog {
public:
    StandInDialog() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &StandInDialog::Procedure;
        windowClass.lpszClassName = L"QuorselStatusHandOverTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~StandInDialog() { DestroyWindow(window); }

    // Handles messages until `count` codes have been taken or `span` has passed.
    size_t Pump(size_t count, std::chrono::steady_clock::duration span) {
        const auto deadline = std::chrono::steady_clock::now() + span;
        MSG message;
        while (taken.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            else MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        return taken.size();
    }

    StatusHandOver handOver;
    HWND window;
    std::vector<std::pair<StatusCode, uint32_t>> taken;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<StandInDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        TransferCounters counters;
        if (self && message == WM_COMMAND && LOWORD(wParam) == CTL_STATUS_COMMAND) {
            if (StatusCode code = self->handOver.Take(counters)) self->taken.emplace_back(code, counters.done);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};

// The worker goes on only once each code is handled; codes come one at a time and in
// order, a posted one first; a code sent to a window that is gone neither waits nor
// holds up the next.
TEST(StatusHandOverTest, EachCodeIsHandledOnceInOrderBeforeTheWorkerGoesOn) {
    StandInDialog dialog;
    HWND gone = StandInDialog().window;
    std::atomic<int> returned{0};
    std::thread worker([&] {
        dialog.handOver.Send(gone, STATUS_CONNECTING, {});
        dialog.handOver.Post(dialog.window, STATUS_ABORTED, {10, 1});
        dialog.handOver.Send(dialog.window, STATUS_PROGRESS, {10, 2});
        returned = 1;
        dialog.handOver.Send(dialog.window, STATUS_COMPLETE, {10, 10});
        returned = 2;
    });

    ASSERT_EQ(dialog.Pump(1, ARRIVAL_BOUND), 1u);
    EXPECT_EQ(dialog.Pump(2, 50ms), 1u) << "a code came while the posted one was in hand";
    dialog.handOver.Done();
    ASSERT_EQ(dialog.Pump(2, ARRIVAL_BOUND), 2u);
    EXPECT_EQ(dialog.Pump(3, 50ms), 2u);
    EXPECT_EQ(returned, 0) << "Send returned before its code was handled";
    dialog.handOver.Done();
    ASSERT_EQ(dialog.Pump(3, ARRIVAL_BOUND), 3u);
    EXPECT_EQ(returned, 1);
    dialog.handOver.Done();
    const auto deadline = std::chrono::steady_clock::now() + ARRIVAL_BOUND;
    while (returned != 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    if (returned != 2) {
        ADD_FAILURE() << "Send did not return once its code was handled";
        std::fflush(nullptr);
        std::_Exit(1);  // rather than hang in join
    }
    worker.join();
    const std::vector<std::pair<StatusCode, uint32_t>> expected{
        {STATUS_ABORTED, 1}, {STATUS_PROGRESS, 2}, {STATUS_COMPLETE, 10}};
    EXPECT_EQ(dialog.taken, expected);
}

}  // namespace
}  // namespace quorsel
