// The contract every message loop keeps, as a typed test suite. A test file instantiates it
// with a factory type that has `static std::unique_ptr<IZubMessageLoop> Create()`, called on
// the thread that is to be the UI thread:
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, ZubLoopContract, MyFactory);
#pragma once

#include "zubwnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace zubcontract
{
constexpr UINT kMsgA = WM_USER + 100;
constexpr UINT kMsgB = WM_USER + 101;
constexpr UINT kMsgC = WM_USER + 102;
// Run-based tests end with this code when the loop failed to end them.
constexpr int kWatchdogCode = -99;

struct SSeen
{
    UINT msg;
    WPARAM wParam;
    std::thread::id thread;
    int depth; // 1 for a handler called by the loop, 2 for one nested inside it, ...
};

// Records what it receives (UI thread only) and lets a test react to it.
class CRecordingWnd : public CZubWnd
{
public:
    std::function<LRESULT(UINT msg, WPARAM wParam)> onMessage;
    std::vector<SSeen> seen;

    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM) override
    {
        static thread_local int depth = 0;
        struct SDepth  // a throwing handler leaves the depth as it found it
        {
            SDepth() { ++depth; }
            ~SDepth() { --depth; }
        } scope;
        seen.push_back({msg, wParam, std::this_thread::get_id(), depth});
        return onMessage ? onMessage(msg, wParam) : 0;
    }

    size_t Count(UINT msg, WPARAM wParam) const
    {
        size_t n = 0;
        for (const SSeen& s : seen)
            n += s.msg == msg && s.wParam == wParam;
        return n;
    }
};

// Quits the loop with kWatchdogCode if a test has not ended it in generous time.
class CWatchdogWnd : public CZubWnd
{
public:
    CWatchdogWnd() { SetTimer(1, 10000, true); }
    LRESULT WindowProc(UINT msg, WPARAM, LPARAM) override
    {
        if (msg == WM_TIMER)
            ZubGetMessageLoop()->Quit(kWatchdogCode);
        return 0;
    }
};
} // namespace zubcontract

template <class TFactory>
class ZubLoopContract : public testing::Test
{
protected:
    void SetUp() override
    {
        m_pLoop = TFactory::Create();
        ZubSetMessageLoop(m_pLoop.get());
        m_uiThread = std::this_thread::get_id();
    }

    void TearDown() override
    {
        m_pWatchdog.reset();
        ZubSetMessageLoop(nullptr);
        m_pLoop.reset();
    }

    IZubMessageLoop& Loop() { return *m_pLoop; }

    int RunGuarded()
    {
        m_pWatchdog = std::make_unique<zubcontract::CWatchdogWnd>();
        const int code = m_pLoop->Run();
        m_pWatchdog.reset();
        return code;
    }

    // Pumps until the condition holds (or a generous time has passed).
    bool PumpUntil(const std::function<bool()>& condition)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition() && std::chrono::steady_clock::now() < giveUp)
        {
            m_pLoop->PumpPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return condition();
    }

    std::unique_ptr<IZubMessageLoop> m_pLoop;
    std::unique_ptr<zubcontract::CWatchdogWnd> m_pWatchdog;
    std::thread::id m_uiThread;
};

TYPED_TEST_SUITE_P(ZubLoopContract);

TYPED_TEST_P(ZubLoopContract, PostedMessagesArriveInOrderOnTheUiThread)
{
    using namespace zubcontract;
    EXPECT_TRUE(this->Loop().IsUiThread());
    CRecordingWnd wnd;
    for (WPARAM i = 0; i < 5; ++i)
        wnd.PostMessage(kMsgA, i);
    EXPECT_TRUE(wnd.seen.empty()) << "posting never dispatches at once";

    std::thread worker([&] {
        EXPECT_FALSE(this->Loop().IsUiThread());
        for (WPARAM i = 5; i < 200; ++i)
            wnd.PostMessage(kMsgA, i);
        this->Loop().Quit(4);
    });
    worker.join();
    EXPECT_EQ(this->RunGuarded(), 4);

    ASSERT_EQ(wnd.seen.size(), 200u);
    for (WPARAM i = 0; i < 200; ++i)
    {
        EXPECT_EQ(wnd.seen[i].wParam, i);
        EXPECT_EQ(wnd.seen[i].thread, this->m_uiThread);
    }
}

TYPED_TEST_P(ZubLoopContract, SendFromAnotherThreadWaitsForTheUiThread)
{
    using namespace zubcontract;
    CRecordingWnd wnd;
    std::atomic<bool> bHandled{false};
    wnd.onMessage = [&](UINT, WPARAM wParam) -> LRESULT {
        bHandled = true;
        return static_cast<LRESULT>(wParam * 2);
    };
    EXPECT_EQ(wnd.SendMessage(kMsgA, 5), 10) << "a send on the UI thread runs at once";

    LRESULT result = 0;
    bool bHandledBeforeReturn = false;
    std::thread worker([&] {
        bHandled = false;
        result = wnd.SendMessage(kMsgB, 21);
        bHandledBeforeReturn = bHandled;
        this->Loop().Quit(3);
    });
    EXPECT_EQ(this->RunGuarded(), 3);
    worker.join();

    EXPECT_EQ(result, 42);
    EXPECT_TRUE(bHandledBeforeReturn);
    ASSERT_EQ(wnd.seen.size(), 2u);
    EXPECT_EQ(wnd.seen[1].msg, kMsgB);
    EXPECT_EQ(wnd.seen[1].thread, this->m_uiThread);
}

TYPED_TEST_P(ZubLoopContract, TimersFireOnTheUiThreadUntilKilled)
{
    using namespace zubcontract;
    CRecordingWnd wnd;
    wnd.onMessage = [&](UINT msg, WPARAM id) -> LRESULT {
        if (msg != WM_TIMER)
            return 0;
        if (id == 1 && wnd.Count(WM_TIMER, 1) == 3)
        {
            wnd.KillTimer(1); // from inside its own handler
            wnd.SetTimer(3, 20, true);
        }
        if (id == 3)
            wnd.SetTimer(4, 40, true); // time for a repeating one-shot to show itself
        if (id == 4)
            this->Loop().Quit(0);
        return 0;
    };
    wnd.SetTimer(1, 5);
    wnd.SetTimer(2, 5);
    wnd.KillTimer(2); // killed before it was due
    wnd.SetTimer(5, 5);
    wnd.SetTimer(5, 5, true); // setting again replaces: now a one-shot
    EXPECT_EQ(this->RunGuarded(), 0);

    EXPECT_EQ(wnd.Count(WM_TIMER, 1), 3u);
    EXPECT_EQ(wnd.Count(WM_TIMER, 2), 0u);
    EXPECT_EQ(wnd.Count(WM_TIMER, 3), 1u);
    EXPECT_EQ(wnd.Count(WM_TIMER, 4), 1u);
    EXPECT_EQ(wnd.Count(WM_TIMER, 5), 1u);
    for (const SSeen& s : wnd.seen)
        EXPECT_EQ(s.thread, this->m_uiThread);
}

TYPED_TEST_P(ZubLoopContract, PumpPendingReportsQuitAndLeavesItQueued)
{
    using namespace zubcontract;
    CRecordingWnd wnd;
    EXPECT_TRUE(this->Loop().PumpPending()) << "nothing waiting";

    wnd.PostMessage(kMsgA, 1);
    wnd.PostMessage(kMsgA, 2);
    EXPECT_TRUE(this->Loop().PumpPending());
    EXPECT_EQ(wnd.Count(kMsgA, 1) + wnd.Count(kMsgA, 2), 2u);

    wnd.SetTimer(7, 1, true);
    EXPECT_TRUE(this->PumpUntil([&] { return wnd.Count(WM_TIMER, 7) == 1; }));

    wnd.PostMessage(kMsgA, 3);
    this->Loop().Quit(5);
    EXPECT_FALSE(this->Loop().PumpPending());
    EXPECT_EQ(wnd.Count(kMsgA, 3), 1u) << "what came before the quit message is dispatched";
    EXPECT_FALSE(this->Loop().PumpPending()) << "the quit message stays queued";
    EXPECT_EQ(this->RunGuarded(), 5);
}

TYPED_TEST_P(ZubLoopContract, HandlersMayPumpNested)
{
    using namespace zubcontract;
    CRecordingWnd wnd;
    wnd.onMessage = [&](UINT msg, WPARAM) -> LRESULT {
        if (msg == kMsgA)
        {
            wnd.PostMessage(kMsgB);
            EXPECT_TRUE(this->Loop().PumpPending());
        }
        return 0;
    };
    wnd.PostMessage(kMsgA);
    wnd.PostMessage(kMsgC);
    EXPECT_TRUE(this->Loop().PumpPending());
    EXPECT_TRUE(this->Loop().PumpPending());

    ASSERT_EQ(wnd.seen.size(), 3u);
    EXPECT_EQ(wnd.seen[0].msg, kMsgA);
    EXPECT_EQ(wnd.seen[0].depth, 1);
    EXPECT_EQ(wnd.seen[1].msg, kMsgC);
    EXPECT_EQ(wnd.seen[1].depth, 2);
    EXPECT_EQ(wnd.seen[2].msg, kMsgB);
    EXPECT_EQ(wnd.seen[2].depth, 2);
}

// The shape of a pass loop: a timer handler kills its timer and pumps after every step; a
// message it handles meanwhile restarts the timer, whose handler then runs nested; a quit
// met inside ends both loops and still ends Run.
TYPED_TEST_P(ZubLoopContract, PassLoopRunsNestedAndEndsOnQuit)
{
    using namespace zubcontract;
    constexpr uintptr_t kStartTimer = 100;
    CRecordingWnd wnd;
    int passes = 0;
    bool bOuterSawQuit = false;
    wnd.onMessage = [&](UINT msg, WPARAM wParam) -> LRESULT {
        if (msg == kMsgA) // end of a pass: start the next
            wnd.SetTimer(kStartTimer, 5);
        if (msg != WM_TIMER || wParam != kStartTimer)
            return 0;
        wnd.KillTimer(kStartTimer);
        if (++passes == 2)
        {
            this->Loop().Quit(8);
            return 0;
        }
        wnd.PostMessage(kMsgA);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < giveUp)
        {
            if (!this->Loop().PumpPending())
            {
                bOuterSawQuit = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    };
    wnd.SetTimer(kStartTimer, 5);
    EXPECT_EQ(this->RunGuarded(), 8);
    EXPECT_EQ(passes, 2);
    EXPECT_TRUE(bOuterSawQuit);
    ASSERT_EQ(wnd.Count(WM_TIMER, kStartTimer), 2u);
    EXPECT_EQ(wnd.seen.back().depth, 2);
}

TYPED_TEST_P(ZubLoopContract, ForgottenAndDestroyedWindowsReceiveNothing)
{
    using namespace zubcontract;
    CRecordingWnd kept;
    CRecordingWnd forgotten;
    auto pDestroyed = std::make_unique<CRecordingWnd>();
    for (CRecordingWnd* pWnd : {&kept, &forgotten, pDestroyed.get()})
    {
        pWnd->PostMessage(kMsgA);
        pWnd->SetTimer(1, 1, true);
        pWnd->SetTimer(2, 1);
    }
    this->Loop().Forget(&forgotten);
    pDestroyed.reset();
    kept.SetTimer(3, 30, true);
    EXPECT_TRUE(this->PumpUntil([&] { return kept.Count(WM_TIMER, 3) == 1; }));
    kept.KillTimer(2);

    EXPECT_EQ(kept.Count(kMsgA, 0), 1u);
    EXPECT_EQ(kept.Count(WM_TIMER, 1), 1u);
    EXPECT_TRUE(forgotten.seen.empty());
}

TYPED_TEST_P(ZubLoopContract, StoppingASenderWhileItSendsNeverDeadlocks)
{
    using namespace zubcontract;
    CRecordingWnd wnd;
    std::mt19937 random(12345);
    size_t sentTotal = 0;
    for (int round = 0; round < 300; ++round)
    {
        std::atomic<bool> bStop{false};
        std::atomic<size_t> sent{0};
        std::thread decoder([&] {
            while (!bStop.load())
            {
                EXPECT_EQ(wnd.SendMessage(kMsgA, sent.load()), 0);
                ++sent;
            }
        });
        // Stop at a random moment: at once, after some pumping, or after a short sleep.
        switch (random() % 3)
        {
        case 1:
            for (unsigned i = random() % 50; i > 0; --i)
                this->Loop().PumpPending();
            break;
        case 2:
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
            break;
        default:
            break;
        }
        bStop = true;
        this->Loop().JoinServingSends(decoder);
        sentTotal += sent.load();
    }
    EXPECT_EQ(wnd.seen.size(), sentTotal) << "every send that returned was handled once";
    for (const SSeen& s : wnd.seen)
        ASSERT_EQ(s.thread, this->m_uiThread);
}

REGISTER_TYPED_TEST_SUITE_P(ZubLoopContract, PostedMessagesArriveInOrderOnTheUiThread,
                            SendFromAnotherThreadWaitsForTheUiThread,
                            TimersFireOnTheUiThreadUntilKilled,
                            PumpPendingReportsQuitAndLeavesItQueued, HandlersMayPumpNested,
                            PassLoopRunsNestedAndEndsOnQuit,
                            ForgottenAndDestroyedWindowsReceiveNothing,
                            StoppingASenderWhileItSendsNeverDeadlocks);
