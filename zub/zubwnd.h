// Window messages, timers and the message loop: the small platform layer the document and
// the view talk through. The core uses the headless loop; the desktop program a Qt one.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 1024;
constexpr UINT WM_APP = 32768;

// Messages between the document and the view. Text in lParam (const char*, UTF-8) is
// valid only during the send.
constexpr UINT WM_FRAME_CLEAR = WM_USER + 1;
constexpr UINT WM_FRAME_SHOW = WM_USER + 2;
constexpr UINT WM_FRAME_COUNTERS = WM_USER + 3;
constexpr UINT WM_LIST_INDEX = WM_USER + 4;
constexpr UINT WM_PHASES_ARM = WM_USER + 5;
constexpr UINT WM_END_ROI = WM_USER + 6;
constexpr UINT WM_END_AVG = WM_USER + 7;
constexpr UINT WM_END_IMPACT = WM_USER + 8;
constexpr UINT WM_END_RESULTS = WM_USER + 11;
constexpr UINT WM_LOG_VIEW = WM_USER + 12;
constexpr UINT WM_LOG_CONSOLE = WM_USER + 13;
// Posted by the document when the run's state may have changed (see CZubView).
constexpr UINT WM_RUN_STATE = WM_USER + 30;
constexpr UINT WM_GRAPH_NOTIFY = WM_APP + 1;

class IZubMessageLoop;

// A message target. Messages and timers go through the process's message loop and are
// handled on its user-interface thread by WindowProc. With no loop installed, SendMessage
// calls WindowProc directly and posted messages and timers are dropped. The destructor
// makes the loop forget the window, so a destroyed window never receives a message.
class CZubWnd
{
public:
    CZubWnd();
    virtual ~CZubWnd();
    CZubWnd(const CZubWnd&) = delete;
    CZubWnd& operator=(const CZubWnd&) = delete;

    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

    LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    void PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Periodic WM_TIMER (wParam = id) every `ms` until KillTimer; one-shot when asked.
    void SetTimer(uintptr_t id, unsigned ms, bool bOneShot = false);
    void KillTimer(uintptr_t id);
};

// One per process; owns the user-interface thread.
class IZubMessageLoop
{
public:
    virtual ~IZubMessageLoop() = default;

    virtual void Post(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // Runs the handler on the UI thread; from another thread, waits until it has run.
    virtual LRESULT Send(CZubWnd* pWnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    virtual void SetTimer(CZubWnd* pWnd, uintptr_t id, unsigned ms, bool bOneShot) = 0;
    virtual void KillTimer(CZubWnd* pWnd, uintptr_t id) = 0;
    // Drops everything queued for a window that is going away.
    virtual void Forget(CZubWnd* pWnd) = 0;
    // Dispatches what is waiting (messages, due timers). Returns false when it met the quit
    // message, which stays queued so that the application still ends.
    virtual bool PumpPending() = 0;
    // Dispatches until Quit; returns the exit code.
    virtual int Run() = 0;
    virtual void Quit(int exitCode = 0) = 0;
    virtual bool IsUiThread() const = 0;

    // UI thread only: serves the sends other threads are waiting in (nothing else: no
    // posted messages, no timers) until done() returns true. Lets the UI thread wait for a
    // thread that may itself be waiting in a send to the UI thread.
    virtual void WaitServingSends(const std::function<bool()>& done) = 0;
    // Joins a thread that may send to the UI thread, serving its sends meanwhile. Off the UI
    // thread it is a plain join.
    void JoinServingSends(std::thread& thread);
};

// The process's loop; null until one is installed.
IZubMessageLoop* ZubGetMessageLoop();
void ZubSetMessageLoop(IZubMessageLoop* pLoop);
