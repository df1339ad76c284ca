#include "zubheadlessloop.h"

#include <algorithm>
#include <limits>

namespace
{
constexpr uint64_t kEverySerial = std::numeric_limits<uint64_t>::max();
}

CZubHeadlessLoop::CZubHeadlessLoop()
    : m_uiThread(std::this_thread::get_id())
{
}

CZubHeadlessLoop::~CZubHeadlessLoop()
{
    // Release every waiting sender and let it leave Send before the mutex goes away.
    std::unique_lock lock(m_mutex);
    m_bClosing = true;
    for (SSendRequest* pRequest : m_sends)
        CompleteSendLocked(*pRequest, 0);
    m_sends.clear();
    m_sendDone.wait(lock, [this] { return m_nWaitingSenders == 0; });
}

void CZubHeadlessLoop::Post(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!pWnd)
        return;
    std::lock_guard lock(m_mutex);
    if (m_bClosing)
        return;
    m_posted.push_back({pWnd, msg, wParam, lParam, m_nextSerial++});
    m_uiWake.notify_one();
}

LRESULT CZubHeadlessLoop::Send(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam)
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
    m_uiWake.notify_one();
    m_sendDone.wait(lock, [&request] { return request.bDone; });
    if (--m_nWaitingSenders == 0 && m_bClosing)
        m_sendDone.notify_all();
    return request.result;
}

void CZubHeadlessLoop::SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot)
{
    if (!pWnd)
        return;
    // At least 1 ms, so that a rescheduled timer is never due again in the same pump.
    const Clock::duration period = std::chrono::milliseconds(std::max(ms, 1u));
    std::lock_guard lock(m_mutex);
    m_timers[{pWnd, id}] = STimer{Clock::now() + period, period, bOneShot};
    m_uiWake.notify_one();
}

void CZubHeadlessLoop::KillTimer(CZubWnd* pWnd, uintptr_t id)
{
    std::lock_guard lock(m_mutex);
    m_timers.erase({pWnd, id});
}

void CZubHeadlessLoop::Forget(CZubWnd* pWnd)
{
    if (!pWnd)
        return;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_posted, [pWnd](const SMessage& m) { return m.pWnd == pWnd; });
    std::erase_if(m_timers, [pWnd](const auto& timer) { return timer.first.first == pWnd; });
    std::erase_if(m_sends, [this, pWnd](SSendRequest* pRequest) {
        if (pRequest->message.pWnd != pWnd)
            return false;
        CompleteSendLocked(*pRequest, 0);
        return true;
    });
}

bool CZubHeadlessLoop::PumpPending()
{
    if (!IsUiThread())
        return true;
    uint64_t serialLimit;
    {
        std::lock_guard lock(m_mutex);
        serialLimit = m_nextSerial;
    }
    const Clock::time_point now = Clock::now();
    for (;;)
    {
        if (ServeOneSend(serialLimit))
            continue;
        const EPosted posted = DispatchOnePosted(serialLimit);
        if (posted == EPosted::Quit)
            return false;
        if (posted == EPosted::Dispatched)
            continue;
        if (!FireOneTimer(now))
            return true;
    }
}

int CZubHeadlessLoop::Run()
{
    if (!IsUiThread())
        return -1;
    while (PumpPending())
        WaitForWork();
    // Only this thread removes messages, so the quit message PumpPending met is first.
    std::lock_guard lock(m_mutex);
    const SMessage quit = m_posted.front();
    m_posted.pop_front();
    return static_cast<int>(static_cast<LPARAM>(quit.wParam));
}

void CZubHeadlessLoop::Quit(int exitCode)
{
    std::lock_guard lock(m_mutex);
    m_posted.push_back({nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<LPARAM>(exitCode)), 0,
                        m_nextSerial++});
    m_uiWake.notify_one();
}

bool CZubHeadlessLoop::IsUiThread() const
{
    return std::this_thread::get_id() == m_uiThread;
}

void CZubHeadlessLoop::WaitServingSends(const std::function<bool()>& done)
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
            m_uiWake.wait_for(lock, kRecheck);
    }
}

size_t CZubHeadlessLoop::PendingSendCount() const
{
    std::lock_guard lock(m_mutex);
    return m_sends.size();
}

bool CZubHeadlessLoop::ServeOneSend(uint64_t serialLimit)
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

CZubHeadlessLoop::EPosted CZubHeadlessLoop::DispatchOnePosted(uint64_t serialLimit)
{
    SMessage m;
    {
        std::lock_guard lock(m_mutex);
        if (m_posted.empty() || m_posted.front().serial >= serialLimit)
            return EPosted::None;
        if (!m_posted.front().pWnd)
            return EPosted::Quit;
        m = m_posted.front();
        m_posted.pop_front();
    }
    m.pWnd->WindowProc(m.msg, m.wParam, m.lParam);
    return EPosted::Dispatched;
}

bool CZubHeadlessLoop::FireOneTimer(Clock::time_point dueBy)
{
    CZubWnd* pWnd;
    uintptr_t id;
    {
        std::lock_guard lock(m_mutex);
        const auto byDue = [](const auto& a, const auto& b) { return a.second.due < b.second.due; };
        const auto earliest = std::min_element(m_timers.begin(), m_timers.end(), byDue);
        if (earliest == m_timers.end() || earliest->second.due > dueBy)
            return false;
        pWnd = earliest->first.first;
        id = earliest->first.second;
        // Rescheduled before the handler runs, so that it may kill or reset its own timer.
        if (earliest->second.bOneShot)
            m_timers.erase(earliest);
        else
            earliest->second.due = Clock::now() + earliest->second.period;
    }
    pWnd->WindowProc(WM_TIMER, id, 0);
    return true;
}

void CZubHeadlessLoop::WaitForWork()
{
    std::unique_lock lock(m_mutex);
    while (m_sends.empty() && m_posted.empty())
    {
        if (m_timers.empty())
        {
            m_uiWake.wait(lock);
            continue;
        }
        const Clock::time_point deadline = NextDeadlineLocked();
        if (deadline <= Clock::now())
            return;
        m_uiWake.wait_until(lock, deadline);
    }
}

void CZubHeadlessLoop::CompleteSendLocked(SSendRequest& request, LRESULT result)
{
    request.result = result;
    request.bDone = true;
    m_sendDone.notify_all();
}

CZubHeadlessLoop::Clock::time_point CZubHeadlessLoop::NextDeadlineLocked() const
{
    Clock::time_point next = Clock::time_point::max();
    for (const auto& timer : m_timers)
        next = std::min(next, timer.second.due);
    return next;
}
