#include "zubwnd.h"

#include <atomic>

namespace
{
// Read by decoder threads while the UI thread may install or remove the loop.
std::atomic<IZubMessageLoop*> g_pMessageLoop{nullptr};
}

IZubMessageLoop* ZubGetMessageLoop()
{
    return g_pMessageLoop.load(std::memory_order_acquire);
}

void ZubSetMessageLoop(IZubMessageLoop* pLoop)
{
    g_pMessageLoop.store(pLoop, std::memory_order_release);
}

CZubWnd::CZubWnd() = default;

CZubWnd::~CZubWnd()
{
    if (IZubMessageLoop* pLoop = ZubGetMessageLoop())
        pLoop->Forget(this);
}

LRESULT CZubWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (IZubMessageLoop* pLoop = ZubGetMessageLoop())
        return pLoop->Send(this, msg, wParam, lParam);
    return WindowProc(msg, wParam, lParam);
}

void CZubWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (IZubMessageLoop* pLoop = ZubGetMessageLoop())
        pLoop->Post(this, msg, wParam, lParam);
}

void CZubWnd::SetTimer(uintptr_t id, unsigned ms, bool bOneShot)
{
    if (IZubMessageLoop* pLoop = ZubGetMessageLoop())
        pLoop->SetTimer(this, id, ms, bOneShot);
}

void CZubWnd::KillTimer(uintptr_t id)
{
    if (IZubMessageLoop* pLoop = ZubGetMessageLoop())
        pLoop->KillTimer(this, id);
}

void IZubMessageLoop::JoinServingSends(std::thread& thread)
{
    if (!thread.joinable())
        return;
    if (!IsUiThread())
    {
        thread.join();
        return;
    }
    // A thread cannot be waited for with a timeout, so a helper joins it and raises a flag
    // that the serving wait checks.
    std::atomic<bool> bJoined{false};
    std::thread joiner([&] {
        thread.join();
        bJoined.store(true, std::memory_order_release);
    });
    WaitServingSends([&] { return bJoined.load(std::memory_order_acquire); });
    joiner.join();
}
