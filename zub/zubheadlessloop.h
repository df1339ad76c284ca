// The message loop of the core: a queue of posted messages, timers by deadline and a
// condition variable for sends from other threads. The command-line program and the core
// tests use it.
#pragma once

#include "zubwnd.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
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
class CZubHeadlessLoop : public IZubMessageLoop
{
public:
    CZubHeadlessLoop();
    ~CZubHeadlessLoop() override;
    CZubHeadlessLoop(const CZubHeadlessLoop&) = delete;
    CZubHeadlessLoop& operator=(const CZubHeadlessLoop&) = delete;

    void Post(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT Send(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot) override;
    void KillTimer(CZubWnd* pWnd, uintptr_t id) override;
    void Forget(CZubWnd* pWnd) override;
    bool PumpPending() override;
    int Run() override;
    void Quit(int exitCode = 0) override;
    bool IsUiThread() const override;
    void WaitServingSends(const std::function<bool()>& done) override;

    // Sends other threads are waiting in, not yet dispatched (for diagnostics and tests).
    size_t PendingSendCount() const;

private:
    using Clock = std::chrono::steady_clock;

    struct SMessage
    {
        CZubWnd* pWnd; // null for the quit message
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
        uint64_t serial;
    };

    // Lives on the sending thread's stack while it waits.
    struct SSendRequest
    {
        SMessage message;
        LRESULT result = 0;
        bool bDone = false;
    };

    struct STimer
    {
        Clock::time_point due;
        Clock::duration period;
        bool bOneShot;
    };

    enum class EPosted { None, Dispatched, Quit };

    bool ServeOneSend(uint64_t serialLimit);
    EPosted DispatchOnePosted(uint64_t serialLimit);
    bool FireOneTimer(Clock::time_point dueBy);
    void WaitForWork();
    void CompleteSendLocked(SSendRequest& request, LRESULT result);
    Clock::time_point NextDeadlineLocked() const;

    const std::thread::id m_uiThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_uiWake;   // work arrived for the UI thread
    std::condition_variable m_sendDone; // a send was dispatched or cancelled
    std::deque<SMessage> m_posted;
    std::deque<SSendRequest*> m_sends;
    std::map<std::pair<CZubWnd*, uintptr_t>, STimer> m_timers;
    uint64_t m_nextSerial = 0;
    int m_nWaitingSenders = 0;
    bool m_bClosing = false;
};
