#include "zubheadlessloop.h"

#include <algorithm>

CZubHeadlessLoop::~CZubHeadlessLoop()
{
    CloseQueues();
}

void CZubHeadlessLoop::SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot)
{
    if (!pWnd)
        return;
    // At least 1 ms, so that a rescheduled timer is never due again in the same pump.
    const Clock::duration period = std::chrono::milliseconds(std::max(ms, 1u));
    std::lock_guard lock(m_mutex);
    m_timers[{pWnd, id}] = STimer{Clock::now() + period, period, bOneShot};
    WakeLocked();
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
    ForgetMessagesLocked(pWnd);
    std::erase_if(m_timers, [pWnd](const auto& timer) { return timer.first.first == pWnd; });
}

bool CZubHeadlessLoop::PumpPending()
{
    if (!IsUiThread())
        return true;
    const uint64_t serialLimit = NextSerial();
    const Clock::time_point now = Clock::now();
    for (;;)
    {
        if (ServeOneSend(serialLimit))
            continue;
        // The quit message too waits for the next pump when a handler queued it.
        const EPosted posted = DispatchOnePosted(serialLimit, serialLimit);
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
    return *TakeQuitMessage();
}

void CZubHeadlessLoop::WakeLocked()
{
    m_uiWake.notify_one();
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
    while (!HasMessagesLocked())
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

CZubHeadlessLoop::Clock::time_point CZubHeadlessLoop::NextDeadlineLocked() const
{
    Clock::time_point next = Clock::time_point::max();
    for (const auto& timer : m_timers)
        next = std::min(next, timer.second.due);
    return next;
}
