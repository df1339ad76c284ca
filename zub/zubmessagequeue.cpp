#include "zubmessagequeue.h"

#include <chrono>

CZubMessageQueue::CZubMessageQueue()
    : m_uiThread(std::this_thread::get_id())
{
}

void CZubMessageQueue::Post(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (pWnd)
        Enqueue(pWnd, msg, wParam, lParam);
}

LRESULT CZubMessageQueue::Send(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!pWnd)
        return 0;
    if (IsUiThread())
        return pWnd->WindowProc(msg, wParam, lParam);

    SSendRequest request{{pWnd, msg, wParam, lParam, 0}};
    std::unique_lock lock(m_mutex);
    if (m_bClosing)
        return 0;
    request.message.serial = m_nextSerial++;
    m_sends.push_back(&request);
    ++m_nWaitingSenders;
    m_sendArrived.notify_one(); // WaitServingSends does not wait on the loop's own wake
    WakeLocked();
    m_sendDone.wait(lock, [&request] { return request.bDone; });
    if (--m_nWaitingSenders == 0 && m_bClosing)
        m_sendDone.notify_all();
    return request.result;
}

void CZubMessageQueue::Quit(int exitCode)
{
    Enqueue(nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<LPARAM>(exitCode)), 0);
}

bool CZubMessageQueue::IsUiThread() const
{
    return std::this_thread::get_id() == m_uiThread;
}

void CZubMessageQueue::WaitServingSends(const std::function<bool()>& done)
{
    // done() may change without telling the loop (a thread ending), hence the short poll.
    constexpr auto kRecheck = std::chrono::milliseconds(1);
    const bool bServe = IsUiThread();
    for (;;)
    {
        while (bServe && ServeOneSend(kEverySerial))
        {
        }
        if (done())
            return;
        std::unique_lock lock(m_mutex);
        if (!bServe || m_sends.empty())
            m_sendArrived.wait_for(lock, kRecheck);
    }
}

size_t CZubMessageQueue::PendingSendCount() const
{
    std::lock_guard lock(m_mutex);
    return m_sends.size();
}

bool CZubMessageQueue::ServeOneSend(uint64_t serialLimit)
{
    SSendRequest* pRequest;
    {
        std::lock_guard lock(m_mutex);
        if (m_sends.empty() || m_sends.front()->message.serial >= serialLimit)
            return false;
        pRequest = m_sends.front();
        m_sends.pop_front();
    }
    const SMessage& m = pRequest->message;
    LRESULT result = 0;
    try
    {
        result = m.pWnd->WindowProc(m.msg, m.wParam, m.lParam);
    }
    catch (...)
    {
        // The sender must not wait forever for a handler that failed.
        std::lock_guard lock(m_mutex);
        CompleteSendLocked(*pRequest, 0);
        throw;
    }
    std::lock_guard lock(m_mutex);
    CompleteSendLocked(*pRequest, result);
    return true;
}

CZubMessageQueue::EPosted CZubMessageQueue::DispatchOnePosted(uint64_t serialLimit,
                                                              uint64_t quitSerialLimit)
{
    SMessage m;
    {
        std::lock_guard lock(m_mutex);
        if (m_posted.empty())
            return EPosted::None;
        const bool bQuit = !m_posted.front().pWnd;
        if (m_posted.front().serial >= (bQuit ? quitSerialLimit : serialLimit))
            return EPosted::None;
        if (bQuit)
            return EPosted::Quit;
        m = m_posted.front();
        m_posted.pop_front();
    }
    m.pWnd->WindowProc(m.msg, m.wParam, m.lParam);
    return EPosted::Dispatched;
}

std::optional<int> CZubMessageQueue::TakeQuitMessage()
{
    std::lock_guard lock(m_mutex);
    if (m_posted.empty() || m_posted.front().pWnd)
        return std::nullopt;
    const SMessage quit = m_posted.front();
    m_posted.pop_front();
    return static_cast<int>(static_cast<LPARAM>(quit.wParam));
}

void CZubMessageQueue::ForgetMessagesLocked(CZubWnd* pWnd)
{
    std::erase_if(m_posted, [pWnd](const SMessage& m) { return m.pWnd == pWnd; });
    std::erase_if(m_sends, [this, pWnd](SSendRequest* pRequest) {
        if (pRequest->message.pWnd != pWnd)
            return false;
        CompleteSendLocked(*pRequest, 0);
        return true;
    });
}

void CZubMessageQueue::CloseQueues()
{
    // Release every waiting sender and let it leave Send before the mutex goes away.
    std::unique_lock lock(m_mutex);
    m_bClosing = true;
    for (SSendRequest* pRequest : m_sends)
        CompleteSendLocked(*pRequest, 0);
    m_sends.clear();
    m_sendDone.wait(lock, [this] { return m_nWaitingSenders == 0; });
    m_posted.clear();
}

uint64_t CZubMessageQueue::NextSerial() const
{
    std::lock_guard lock(m_mutex);
    return m_nextSerial;
}

void CZubMessageQueue::Enqueue(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard lock(m_mutex);
    if (m_bClosing)
        return;
    m_posted.push_back({pWnd, msg, wParam, lParam, m_nextSerial++});
    WakeLocked();
}

void CZubMessageQueue::CompleteSendLocked(SSendRequest& request, LRESULT result)
{
    request.result = result;
    request.bDone = true;
    m_sendDone.notify_all();
}
