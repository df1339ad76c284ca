// The message loop of the desktop program: window messages, timers and sends from other
// threads over the Qt event loop, so that Qt's own events (paint, input) and ours share the
// user-interface thread.
#pragma once

#include "zubmessagequeue.h"

#include <memory>
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
class CZubQtLoop : public CZubMessageQueue
{
public:
    CZubQtLoop();
    ~CZubQtLoop() override;

    void SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot) override;
    void KillTimer(CZubWnd* pWnd, uintptr_t id) override;
    void Forget(CZubWnd* pWnd) override;
    bool PumpPending() override;
    int Run() override;

private:
    class CDispatcher;

    // A timer change asked for off the UI thread, applied there in order.
    struct STimerRequest
    {
        enum class EKind { Set, Kill, Forget } kind;
        CZubWnd* pWnd;
        uintptr_t id;
        unsigned ms;
        bool bOneShot;
    };

    friend class CDispatcher;
    void OnWake();
    void OnQtTimer(int qtTimerId);
    bool DispatchWaiting(uint64_t serialLimit);
    void ApplyTimerRequests();
    void ApplyTimerRequest(const STimerRequest& request);
    void RequestTimerChange(const STimerRequest& request);
    void WakeLocked() override;
    void QuitMet();

    std::unique_ptr<CDispatcher> m_pDispatcher;
    QEventLoop* m_pRunLoop = nullptr; // Run's loop while it runs

    std::vector<STimerRequest> m_timerRequests;
    bool m_bWakePending = false; // a wake event is on its way to the dispatcher
};
