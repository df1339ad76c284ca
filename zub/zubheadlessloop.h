// The message loop of the core: a queue of posted messages, timers by deadline and a
// condition variable for sends from other threads. The command-line program and the core
// tests use it.
#pragma once

#include "zubmessagequeue.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <utility>

// The UI thread is the thread that constructed the loop, and only there are messages
// dispatched: on another thread PumpPending does nothing, Run returns -1 and
// WaitServingSends only waits.
//
// PumpPending dispatches what was waiting when it was entered: sends, posted messages in
// order and timers due at that moment, each timer at most once. Messages posted or sent by
// its handlers wait for the next pump (a nested pump from inside a handler sees them).
// The quit message is queued in order with the posted messages.
//
// The loop must outlive the windows and threads that use it; its destructor returns 0 to
// every thread still waiting in a send.
class CZubHeadlessLoop : public CZubMessageQueue
{
public:
    CZubHeadlessLoop() = default;
    ~CZubHeadlessLoop() override;

    void SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot) override;
    void KillTimer(CZubWnd* pWnd, uintptr_t id) override;
    void Forget(CZubWnd* pWnd) override;
    bool PumpPending() override;
    int Run() override;

private:
    using Clock = std::chrono::steady_clock;

    struct STimer
    {
        Clock::time_point due;
        Clock::duration period;
        bool bOneShot;
    };

    void WakeLocked() override;
    bool FireOneTimer(Clock::time_point dueBy);
    void WaitForWork();
    Clock::time_point NextDeadlineLocked() const;

    std::condition_variable m_uiWake; // work arrived for the UI thread
    std::map<std::pair<CZubWnd*, uintptr_t>, STimer> m_timers;
};
