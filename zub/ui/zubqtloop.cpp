#include "zubqtloop.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <utility>

namespace
{
QEvent::Type WakeEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
} // namespace

// Lives on the UI thread: receives the wake events and owns the Qt timers of the windows.
// Timer ids rather than QTimer objects: a handler may kill, reset or forget its own timer
// (its window destroyed), and Qt allows killing an id inside its own timer event.
class CZubQtLoop::CDispatcher : public QObject
{
public:
    using TKey = std::pair<CZubWnd*, uintptr_t>;

    explicit CDispatcher(CZubQtLoop& loop) : m_loop(loop) {}

    void StartTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot)
    {
        StopTimer({pWnd, id});
        // At least 1 ms: a 0 ms Qt timer would fire on every pass of the event loop.
        const int qtId = startTimer(std::chrono::milliseconds(std::max(ms, 1u)));
        if (qtId == 0)
            return;
        m_timers[{pWnd, id}] = {qtId, bOneShot};
        m_keys[qtId] = {pWnd, id};
    }

    void StopTimer(const TKey& key)
    {
        const auto timer = m_timers.find(key);
        if (timer == m_timers.end())
            return;
        killTimer(timer->second.qtId);
        m_keys.erase(timer->second.qtId);
        m_timers.erase(timer);
    }

    void ForgetTimers(CZubWnd* pWnd)
    {
        std::vector<TKey> keys;
        for (const auto& timer : m_timers)
            if (timer.first.first == pWnd)
                keys.push_back(timer.first);
        for (const TKey& key : keys)
            StopTimer(key);
    }

    // The window and id a Qt timer stands for; a one-shot is stopped before its handler runs
    // so that the handler may set it again.
    std::optional<TKey> Fired(int qtId)
    {
        const auto key = m_keys.find(qtId);
        if (key == m_keys.end())
            return std::nullopt;
        const TKey fired = key->second;
        if (m_timers.at(fired).bOneShot)
            StopTimer(fired);
        return fired;
    }

protected:
    bool event(QEvent* pEvent) override
    {
        if (pEvent->type() != WakeEventType())
            return QObject::event(pEvent);
        m_loop.OnWake();
        return true;
    }

    void timerEvent(QTimerEvent* pEvent) override { m_loop.OnQtTimer(pEvent->timerId()); }

private:
    struct STimer
    {
        int qtId;
        bool bOneShot;
    };

    CZubQtLoop& m_loop;
    std::map<TKey, STimer> m_timers;
    std::map<int, TKey> m_keys;
};

CZubQtLoop::CZubQtLoop()
    : m_pDispatcher(std::make_unique<CDispatcher>(*this))
{
}

CZubQtLoop::~CZubQtLoop()
{
    CloseQueues();
    // Its timers and the wake events still queued for it go with it.
    m_pDispatcher.reset();
}

void CZubQtLoop::SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot)
{
    if (pWnd)
        RequestTimerChange({STimerRequest::EKind::Set, pWnd, id, ms, bOneShot});
}

void CZubQtLoop::KillTimer(CZubWnd* pWnd, uintptr_t id)
{
    if (pWnd)
        RequestTimerChange({STimerRequest::EKind::Kill, pWnd, id, 0, false});
}

void CZubQtLoop::Forget(CZubWnd* pWnd)
{
    if (!pWnd)
        return;
    {
        std::lock_guard lock(m_mutex);
        ForgetMessagesLocked(pWnd);
    }
    RequestTimerChange({STimerRequest::EKind::Forget, pWnd, 0, 0, false});
}

bool CZubQtLoop::PumpPending()
{
    if (!IsUiThread())
        return true;
    const uint64_t serialLimit = NextSerial();
    // Paint, input and timers; also a wake event, which may already dispatch our messages.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return DispatchWaiting(serialLimit);
}

int CZubQtLoop::Run()
{
    if (!IsUiThread())
        return -1;
    QEventLoop loop;
    QEventLoop* const pOuterLoop = std::exchange(m_pRunLoop, &loop);
    {
        // A quit message already queued ends the loop as soon as it starts.
        std::lock_guard lock(m_mutex);
        WakeLocked();
    }
    const int qtCode = loop.exec();
    m_pRunLoop = pOuterLoop;
    // Without the quit message at the head, Qt itself ended the loop (QCoreApplication::exit).
    return TakeQuitMessage().value_or(qtCode);
}

void CZubQtLoop::OnWake()
{
    uint64_t serialLimit;
    {
        std::lock_guard lock(m_mutex);
        m_bWakePending = false;
        serialLimit = NextSerialLocked();
    }
    // What arrives from now on brings its own wake event, so Qt's events get their turn.
    DispatchWaiting(serialLimit);
}

void CZubQtLoop::OnQtTimer(int qtTimerId)
{
    // A window killed or forgotten off the UI thread must not see this tick.
    ApplyTimerRequests();
    if (const auto fired = m_pDispatcher->Fired(qtTimerId))
        fired->first->WindowProc(WM_TIMER, fired->second, 0);
}

bool CZubQtLoop::DispatchWaiting(uint64_t serialLimit)
{
    ApplyTimerRequests();
    for (;;)
    {
        if (ServeOneSend(serialLimit))
            continue;
        // The quit message counts whenever it is first, so that every pump reports it.
        switch (DispatchOnePosted(serialLimit, kEverySerial))
        {
        case EPosted::Dispatched:
            continue;
        case EPosted::Quit:
            QuitMet();
            return false;
        case EPosted::None:
            return true;
        }
    }
}

void CZubQtLoop::ApplyTimerRequests()
{
    std::vector<STimerRequest> requests;
    {
        std::lock_guard lock(m_mutex);
        requests.swap(m_timerRequests);
    }
    for (const STimerRequest& request : requests)
        ApplyTimerRequest(request);
}

void CZubQtLoop::ApplyTimerRequest(const STimerRequest& request)
{
    switch (request.kind)
    {
    case STimerRequest::EKind::Set:
        m_pDispatcher->StartTimer(request.pWnd, request.id, request.ms, request.bOneShot);
        break;
    case STimerRequest::EKind::Kill:
        m_pDispatcher->StopTimer({request.pWnd, request.id});
        break;
    case STimerRequest::EKind::Forget:
        m_pDispatcher->ForgetTimers(request.pWnd);
        break;
    }
}

void CZubQtLoop::RequestTimerChange(const STimerRequest& request)
{
    if (IsUiThread())
    {
        if (!m_pDispatcher)
            return; // the loop is going away
        ApplyTimerRequests(); // earlier changes from other threads come first
        ApplyTimerRequest(request);
        return;
    }
    // Qt timers belong to the UI thread: the change waits there for the next wake.
    std::lock_guard lock(m_mutex);
    if (IsClosingLocked())
        return;
    m_timerRequests.push_back(request);
    WakeLocked();
}

void CZubQtLoop::WakeLocked()
{
    if (m_bWakePending || IsClosingLocked())
        return;
    m_bWakePending = true;
    QCoreApplication::postEvent(m_pDispatcher.get(), new QEvent(WakeEventType()));
}

void CZubQtLoop::QuitMet()
{
    // Run's loop ends once control is back in it; the quit message stays for Run to take.
    if (m_pRunLoop)
        m_pRunLoop->exit();
}
