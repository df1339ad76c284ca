#include "zubendsignals.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace
{
constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Read by the signal handler, so fixed storage and lock-free flags only.
constexpr int kPartialSlots = 16;
enum : int
{
    kSlotFree,
    kSlotFilling,
    kSlotReady,
};
std::atomic<int> s_slotState[kPartialSlots];
char s_partialPath[kPartialSlots][PATH_MAX];

std::atomic<bool> s_bCatch{false};
std::atomic<int> s_wakeFd{-1};
std::atomic<int> s_endSignal{0};
std::atomic<pid_t> s_forwardPid{0};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free,
              "used from a signal handler");

void RemovePartialFiles()
{
    for (int i = 0; i < kPartialSlots; ++i)
        if (s_slotState[i].load() == kSlotReady)
            ::unlink(s_partialPath[i]);
}

void OnEndSignal(int sig)
{
    const int savedErrno = errno;
    s_endSignal.store(sig);
    if (const pid_t pid = s_forwardPid.load(); pid > 0)
        ::kill(pid, sig);
    if (!s_bCatch.load())
        ZubEndBySignal(sig);
    if (const int fd = s_wakeFd.load(); fd >= 0)
    {
        const unsigned char byte = static_cast<unsigned char>(sig);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void InstallHandlers()
{
    struct sigaction action{};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (const int sig : kEndSignals)
        sigaddset(&action.sa_mask, sig);
    // Once: a second signal finds the default action. Calls it interrupts go on (a read of
    // the video must not fail for it); whoever waits for it watches the pipe or a child.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (const int sig : kEndSignals)
        ::sigaction(sig, &action, nullptr);
}
}  // namespace

void ZubEndAtSignals()
{
    s_bCatch.store(false);
    s_wakeFd.store(-1);
    s_forwardPid.store(0);
    InstallHandlers();
    // One that came before (in a child, while it still had its parent's handler).
    if (const int sig = s_endSignal.load(); sig != 0)
        ZubEndBySignal(sig);
}

void ZubCatchEndSignals(int wakeFd)
{
    s_wakeFd.store(wakeFd);
    s_bCatch.store(true);
    InstallHandlers();
}

void ZubResetEndSignals()
{
    for (const int sig : kEndSignals)
        ::signal(sig, SIG_DFL);
    s_bCatch.store(false);
    s_wakeFd.store(-1);
    s_forwardPid.store(0);
    s_endSignal.store(0);
}

int ZubEndSignal()
{
    return s_endSignal.load();
}

void ZubForwardEndSignalsTo(pid_t pid)
{
    s_forwardPid.store(pid);
}

void ZubEndBySignal(int sig)
{
    RemovePartialFiles();
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    // Called from the handler, where the signal is blocked.
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

int ZubTrackPartialFile(const std::string& path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kPartialSlots; ++i)
    {
        int expected = kSlotFree;
        if (!s_slotState[i].compare_exchange_strong(expected, kSlotFilling))
            continue;
        std::memcpy(s_partialPath[i], path.c_str(), path.size() + 1);
        s_slotState[i].store(kSlotReady);
        return i;
    }
    return -1;
}

void ZubUntrackPartialFile(int slot)
{
    if (slot >= 0 && slot < kPartialSlots)
        s_slotState[slot].store(kSlotFree);
}
