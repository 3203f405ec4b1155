// The hand-over of status codes from the run's worker to the progress dialog, with a
// message-only window standing in for the dialog: the worker goes on only once its
// code has been handled, codes arrive one at a time and in order, and a code sent to
// a dialog that is gone is dropped without a wait.
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

// Far beyond what a hand-over takes; only a hand-over that never arrives reaches it.
constexpr auto ARRIVAL_BOUND = 10s;

struct Handled {
    StatusCode code;
    uint32_t done;
};

// The dialog's side: takes each code on the status command and records it; the test
// says when it is done with it.
class StandInDialog {
public:
    StandInDialog() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &StandInDialog::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QuorselStatusHandOverTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~StandInDialog() {
        if (window) DestroyWindow(window);
    }

    // Handles messages until a code has been taken (true) or the bound has passed.
    bool AwaitCode() { return Pump(ARRIVAL_BOUND, true) > 0; }
    // Handles messages for the whole span; the number of codes taken meanwhile.
    size_t PumpFor(std::chrono::milliseconds span) { return Pump(span, false); }


    StatusHandOver handOver;
    HWND window = nullptr;
    std::vector<Handled> taken;

private:
    size_t Pump(std::chrono::steady_clock::duration span, bool untilCode) {
        const auto deadline = std::chrono::steady_clock::now() + span;
        const size_t before = taken.size();
        MSG message;
        while (!(untilCode && taken.size() > before) && std::chrono::steady_clock::now() < deadline) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&message);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            }
        }
        return taken.size() - before;
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<StandInDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_COMMAND && LOWORD(wParam) == CTL_STATUS_COMMAND) {
            TransferCounters counters;
            const StatusCode code = self->handOver.Take(counters);
            if (code != STATUS_NONE) self->taken.push_back({code, counters.done});
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};

TEST(StatusHandOverTest, TheWorkerGoesOnOnlyOnceEachCodeIsHandledInOrder) {
    StandInDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    std::atomic<int> returned{0};
    std::thread worker([&] {
        dialog.handOver.Post(dialog.window, STATUS_ABORTED, {10, 1});
        dialog.handOver.Send(dialog.window, STATUS_PROGRESS, {10, 2});
        returned = 1;
        dialog.handOver.Send(dialog.window, STATUS_COMPLETE, {10, 10});
        returned = 2;
    });

    ASSERT_TRUE(dialog.AwaitCode());
    EXPECT_EQ(dialog.PumpFor(50ms), 0u) << "a code came while the posted one was in hand";
    dialog.handOver.Done();
    ASSERT_TRUE(dialog.AwaitCode());
    dialog.PumpFor(50ms);
    EXPECT_EQ(returned, 0) << "Send returned before its code was handled";
    dialog.handOver.Done();
    ASSERT_TRUE(dialog.AwaitCode());
    EXPECT_EQ(returned, 1);
    dialog.handOver.Done();
    worker.join();
    EXPECT_EQ(returned, 2);

    ASSERT_EQ(dialog.taken.size(), 3u);
    EXPECT_EQ(dialog.taken[0].code, STATUS_ABORTED);
    EXPECT_EQ(dialog.taken[0].done, 1u);
    EXPECT_EQ(dialog.taken[1].code, STATUS_PROGRESS);
    EXPECT_EQ(dialog.taken[1].done, 2u);
    EXPECT_EQ(dialog.taken[2].code, STATUS_COMPLETE);
    EXPECT_EQ(dialog.taken[2].done, 10u);
}

TEST(StatusHandOverTest, ACodeNoDialogTookNeitherWaitsNorHoldsUpTheNext) {
    StandInDialog dialog;
    ASSERT_NE(dialog.window, nullptr);
    HWND gone;
    {
        StandInDialog closed;
        gone = closed.window;
    }
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        dialog.handOver.Send(gone, STATUS_PROGRESS, {});
        dialog.handOver.Post(gone, STATUS_ABORTED, {});
        dialog.handOver.Send(dialog.window, STATUS_COMPLETE, {1, 1});
        returned = true;
    });
    ASSERT_TRUE(dialog.AwaitCode());
    dialog.handOver.Done();
    const auto deadline = std::chrono::steady_clock::now() + ARRIVAL_BOUND;
    while (!returned && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    if (!returned) {
        // The worker would wait for ever: end here rather than hang in join.
        ADD_FAILURE() << "Send did not return once its code was handled";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    worker.join();
    ASSERT_EQ(dialog.taken.size(), 1u);
    EXPECT_EQ(dialog.taken[0].code, STATUS_COMPLETE);
}

}  // namespace
}  // namespace quorsel
