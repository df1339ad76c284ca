// The message loop of the desktop program: window messages, timers and sends from other
// threads over the Qt event loop, so that Qt's own events (paint, input) and ours share the
// user-interface thread.
#pragma once

#include "zubwnd.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QEventLoop;

// Construct and destroy it on the thread that runs the QApplication (the UI thread), after
// the application object and before it goes.
//
// Posted messages and the quit message wait in one queue, sends from other threads in
// another; whenever either holds work, one event posted to a helper object wakes the UI
// thread, so both are served by whatever Qt loop runs there: Run's, a modal dialog's or a
// message box's. Timers are Qt timers of that helper object. Only WaitServingSends serves
// sends without entering Qt.
//
// PumpPending dispatches what waits (sends, posted messages in order) and lets Qt process its
// own events, due timers among them, so a long pass on the UI thread keeps the window alive.
// It returns false once the quit message is at the head of the queue, and leaves it there.
// Run ends on the quit message only: the main window quits the loop when it closes.
//
// The loop must outlive the windows and threads that use it; its destructor returns 0 to
// every thread still waiting in a send.
class CZubQtLoop : public IZubMessageLoop
{
public:
    CZubQtLoop();
    ~CZubQtLoop() override;
    CZubQtLoop(const CZubQtLoop&) = delete;
    CZubQtLoop& operator=(const CZubQtLoop&) = delete;

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
    class CDispatcher;

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

    // A timer change asked for off the UI thread, applied there in order.
    struct STimerRequest
    {
        enum class EKind { Set, Kill, Forget } kind;
        CZubWnd* pWnd;
        uintptr_t id;
        unsigned ms;
        bool bOneShot;
    };

    enum class EPosted { None, Dispatched, Quit };

    friend class CDispatcher;
    void OnWake();
    void OnQtTimer(int qtTimerId);
    bool DispatchWaiting(uint64_t serialLimit);
    bool ServeOneSend(uint64_t serialLimit);
    EPosted DispatchOnePosted(uint64_t serialLimit);
    void ApplyTimerRequests();
    void ApplyTimerRequest(const STimerRequest& request);
    void RequestTimerChange(const STimerRequest& request);
    void WakeLocked();
    void CompleteSendLocked(SSendRequest& request, LRESULT result);
    uint64_t NextSerial() const;
    void QuitMet();

    const std::thread::id m_uiThread;
    std::unique_ptr<CDispatcher> m_pDispatcher;
    QEventLoop* m_pRunLoop = nullptr; // Run's loop while it runs

    mutable std::mutex m_mutex;
    std::condition_variable m_uiWake;   // a send arrived (for WaitServingSends)
    std::condition_variable m_sendDone; // a send was dispatched or cancelled
    std::deque<SMessage> m_posted;
    std::deque<SSendRequest*> m_sends;
    std::vector<STimerRequest> m_timerRequests;
    uint64_t m_nextSerial = 0;
    int m_nWaitingSenders = 0;
    bool m_bWakePending = false; // a wake event is on its way to the dispatcher
    bool m_bClosing = false;
};
