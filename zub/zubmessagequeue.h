// What the message loops share: the queue of posted messages (the quit message among them)
// and the queue of sends other threads wait in, both numbered by one serial so that a pump
// can tell what arrived before it began. A loop derives from it and adds its timers and the
// way it wakes its user-interface thread.
#pragma once

#include "zubwnd.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

// The UI thread is the thread that constructed the queue. Post, Send, Quit and
// WaitServingSends are complete here; the loop dispatches with ServeOneSend and
// DispatchOnePosted and must call CloseQueues first thing in its destructor, while its
// WakeLocked still works.
class CZubMessageQueue : public IZubMessageLoop
{
public:
    CZubMessageQueue(const CZubMessageQueue&) = delete;
    CZubMessageQueue& operator=(const CZubMessageQueue&) = delete;

    void Post(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    LRESULT Send(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void Quit(int exitCode = 0) override;
    bool IsUiThread() const override;
    void WaitServingSends(const std::function<bool()>& done) override;

    // Sends other threads are waiting in, not yet dispatched (for diagnostics and tests).
    size_t PendingSendCount() const;

protected:
    enum class EPosted { None, Dispatched, Quit };

    // Above every serial a message can get.
    static constexpr uint64_t kEverySerial = std::numeric_limits<uint64_t>::max();

    CZubMessageQueue();

    // Called with the mutex held whenever a message, the quit message or a send was queued.
    virtual void WakeLocked() = 0;

    // Dispatches the oldest waiting send if it came before serialLimit.
    bool ServeOneSend(uint64_t serialLimit);
    // Dispatches the first posted message if it came before serialLimit; reports the quit
    // message, leaving it queued, if it is first and came before quitSerialLimit.
    EPosted DispatchOnePosted(uint64_t serialLimit, uint64_t quitSerialLimit);
    // The exit code of the quit message if it is first; it leaves the queue.
    std::optional<int> TakeQuitMessage();
    // Drops the window's posted messages and returns 0 to the threads sending to it.
    void ForgetMessagesLocked(CZubWnd* pWnd);
    // Refuses new work and returns 0 to every thread waiting in a send, once they have left.
    void CloseQueues();

    bool HasMessagesLocked() const { return !m_sends.empty() || !m_posted.empty(); }
    bool IsClosingLocked() const { return m_bClosing; }
    uint64_t NextSerialLocked() const { return m_nextSerial; }
    uint64_t NextSerial() const;

    // Guards the queues and whatever else the loop guards with it.
    mutable std::mutex m_mutex;

private:
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

    void Enqueue(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void CompleteSendLocked(SSendRequest& request, LRESULT result);

    const std::thread::id m_uiThread;
    std::condition_variable m_sendArrived; // for WaitServingSends, whatever the loop's wake
    std::condition_variable m_sendDone;    // a send was dispatched or cancelled
    std::deque<SMessage> m_posted;
    std::deque<SSendRequest*> m_sends;
    uint64_t m_nextSerial = 0;
    int m_nWaitingSenders = 0;
    bool m_bClosing = false;
};
