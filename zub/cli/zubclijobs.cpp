#include "zubclijobs.h"

#include "zubendsignals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
struct SChild
{
    pid_t pid = -1;
    int out = -1;  // its stdout and stderr, while they are open
    int err = -1;
    std::string outText;  // held until its turn
    std::string errText;
    bool bDone = false;
    int status = 0;
};

// False when the text could not all be written (a full disk, a reader gone).
bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Runs the task in a child; `out` and `err` are -1 for the parent's own streams; `others`:
// the other children's pipes, closed in this one.
pid_t Spawn(const SZubCliJobs& jobs, int task, int out, int err, const std::vector<int>& others = {})
{
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // A child never outlives zubcli (killed, it would go on writing files nobody waits for).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(1);
    ZubEndAtSignals();
    if (out >= 0)
        ::dup2(out, STDOUT_FILENO);
    if (err >= 0)
        ::dup2(err, STDERR_FILENO);
    // Held here, the other children's pipes would keep them from seeing their reader gone.
    for (const int fd : others)
        ::close(fd);
    if (out >= 0)
        ::close(out);
    if (err >= 0)
        ::close(err);
    const int status = jobs.task(task);
    std::fflush(nullptr);
    ::_exit(status);
}

int ExitStatus(int waitStatus, std::string& why)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    why = WIFSIGNALED(waitStatus) ? std::string("ended by signal ") + std::to_string(WTERMSIG(waitStatus)) + " (" +
                                        strsignal(WTERMSIG(waitStatus)) + ")"
                                  : "ended abnormally";
    return 1;
}

int Reap(const SZubCliJobs& jobs, int task, pid_t pid, std::string& errText)
{
    int waitStatus = 0;
    while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR)
    {
    }
    std::string why;
    const int status = ExitStatus(waitStatus, why);
    if (!why.empty() && jobs.crashLine)
        errText += jobs.crashLine(task, why) + "\n";
    return status;
}

// Ends zubcli as the signal it caught would, once its children are gone.
[[noreturn]] void EndByCaughtSignal()
{
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR)
    {
    }
    ZubEndBySignal(ZubEndSignal());
}

int RunOneByOne(const SZubCliJobs& jobs)
{
    // An end signal goes on to the child, whose partial files go with it; then zubcli ends.
    ZubCatchEndSignals(-1);
    int worst = 0;
    for (int task = 0; task < jobs.nTasks; ++task)
    {
        const pid_t pid = Spawn(jobs, task, -1, -1);
        ZubForwardEndSignalsTo(pid);
        if (ZubEndSignal() != 0 && pid > 0)
            ::kill(pid, ZubEndSignal());
        std::string errText;
        const int status = pid < 0 ? 1 : Reap(jobs, task, pid, errText);
        ZubForwardEndSignalsTo(0);
        if (ZubEndSignal() != 0)
            EndByCaughtSignal();
        if (pid < 0 && jobs.crashLine)
            errText = jobs.crashLine(task, std::string("cannot start: ") + std::strerror(errno)) + "\n";
        WriteAll(STDERR_FILENO, errText);
        worst = std::max(worst, status);
    }
    ZubEndAtSignals();
    return worst;
}

// The children of a parallel run and the order their output is passed on in.
class CParallelRun
{
public:
    explicit CParallelRun(const SZubCliJobs& jobs) : m_jobs(jobs), m_children(static_cast<size_t>(jobs.nTasks))
    {
        // An end signal wakes the wait for output through this pipe.
        if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            m_wake[0] = m_wake[1] = -1;
        ZubCatchEndSignals(m_wake[1]);
    }
    ~CParallelRun()
    {
        ZubEndAtSignals();
        for (const int fd : m_wake)
            if (fd >= 0)
                ::close(fd);
    }
    CParallelRun(const CParallelRun&) = delete;
    CParallelRun& operator=(const CParallelRun&) = delete;

    int Run()
    {
        while (m_iHead < m_jobs.nTasks)
        {
            if (ZubEndSignal() != 0)
                EndChildren();
            while (m_nRunning < m_jobs.nJobs && m_iNext < m_jobs.nTasks)
                Start(m_iNext++);
            PassOnHead();
            if (m_iHead < m_jobs.nTasks)
                WaitForOutput();
        }
        ClearProgress();
        return m_worst;
    }

private:
    void Start(int task)
    {
        SChild& child = m_children[static_cast<size_t>(task)];
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
        {
            Fail(child, task, std::string("cannot start: ") + std::strerror(errno));
            return;
        }
        if (::pipe2(err, O_CLOEXEC) != 0)
        {
            const int why = errno;
            ::close(out[0]);
            ::close(out[1]);
            Fail(child, task, std::string("cannot start: ") + std::strerror(why));
            return;
        }
        std::vector<int> others{out[0], err[0], m_wake[0], m_wake[1]};
        for (const SChild& running : m_children)
            for (const int fd : {running.out, running.err})
                if (fd >= 0)
                    others.push_back(fd);
        child.pid = Spawn(m_jobs, task, out[1], err[1], others);
        ::close(out[1]);
        ::close(err[1]);
        child.out = out[0];
        child.err = err[0];
        if (child.pid < 0)
        {
            CloseStreams(child);
            Fail(child, task, std::string("cannot start: ") + std::strerror(errno));
            return;
        }
        ++m_nRunning;
    }

    // Each running child ends by the same signal (removing its partial files), then zubcli.
    [[noreturn]] void EndChildren()
    {
        ClearProgress();
        for (const SChild& child : m_children)
            if (child.pid > 0 && !child.bDone)
                ::kill(child.pid, ZubEndSignal());
        EndByCaughtSignal();
    }

    void Fail(SChild& child, int task, const std::string& why)
    {
        child.bDone = true;
        child.status = 1;
        if (m_jobs.crashLine)
            child.errText += m_jobs.crashLine(task, why) + "\n";
    }

    static void CloseStreams(SChild& child)
    {
        for (int* fd : {&child.out, &child.err})
            if (*fd >= 0)
            {
                ::close(*fd);
                *fd = -1;
            }
    }

    // Passes on what the first unfinished task wrote, and every finished task after it.
    void PassOnHead()
    {
        while (m_iHead < m_jobs.nTasks)
        {
            SChild& head = m_children[static_cast<size_t>(m_iHead)];
            if (!head.outText.empty() || !head.errText.empty())
            {
                ClearProgress();
                if (!WriteAll(STDOUT_FILENO, head.outText) && !m_bLostOutput)
                {
                    // The results did not all arrive: not a success.
                    m_bLostOutput = true;
                    WriteAll(STDERR_FILENO, std::string("zubcli: cannot write the results: ") + std::strerror(errno) + "\n");
                }
                WriteAll(STDERR_FILENO, head.errText);
                head.outText.clear();
                head.errText.clear();
            }
            if (!head.bDone)
                break;
            m_worst = std::max(m_worst, m_bLostOutput ? 1 : head.status);
            ++m_iHead;
            ++m_nPassedOn;
        }
        ShowProgress();
    }

    void WaitForOutput()
    {
        std::vector<pollfd> fds;
        std::vector<std::pair<SChild*, std::string*>> owners;
        for (SChild& child : m_children)
            for (auto [fd, text] : {std::pair{child.out, &child.outText}, std::pair{child.err, &child.errText}})
                if (fd >= 0)
                {
                    fds.push_back({fd, POLLIN, 0});
                    owners.push_back({&child, text});
                }
        if (fds.empty())
            return;
        if (m_wake[0] >= 0)
            fds.push_back({m_wake[0], POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
        {
            if (errno == EINTR)
                return;
            // Nothing can be waited for: zubcli ends, and its children with it.
            WriteAll(STDERR_FILENO, std::string("zubcli: cannot wait for the videos: ") + std::strerror(errno) + "\n");
            m_worst = 1;
            m_iHead = m_jobs.nTasks;
            return;
        }
        for (size_t i = 0; i < owners.size(); ++i)
            if (fds[i].revents != 0)
                ReadFrom(*owners[i].first, fds[i].fd, *owners[i].second);
    }

    void ReadFrom(SChild& child, int fd, std::string& text)
    {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
        {
            text.append(buffer, static_cast<size_t>(n));
            return;
        }
        if (n < 0 && errno == EINTR)
            return;
        (fd == child.out ? child.out : child.err) = -1;
        ::close(fd);
        if (child.out >= 0 || child.err >= 0)
            return;
        const int task = static_cast<int>(&child - m_children.data());
        child.status = Reap(m_jobs, task, child.pid, child.errText);
        child.bDone = true;
        --m_nRunning;
    }

    void ShowProgress()
    {
        if (!m_jobs.bProgress || m_iHead >= m_jobs.nTasks)
            return;
        std::fprintf(stderr, "\r\033[Kzubcli: %d of %d videos done, %d running", m_nPassedOn, m_jobs.nTasks,
                     m_nRunning);
        std::fflush(stderr);
        m_bProgressShown = true;
    }

    void ClearProgress()
    {
        if (!m_bProgressShown)
            return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_bProgressShown = false;
    }

    const SZubCliJobs& m_jobs;
    std::vector<SChild> m_children;
    int m_iNext = 0;  // the next task to start
    int m_iHead = 0;  // the first task not yet passed on whole
    int m_nRunning = 0;
    int m_nPassedOn = 0;
    int m_worst = 0;
    bool m_bLostOutput = false;
    bool m_bProgressShown = false;
    int m_wake[2] = {-1, -1};
};
}  // namespace

int ZubRunJobs(const SZubCliJobs& jobs)
{
    if (jobs.nTasks <= 0)
        return 0;
    if (jobs.nJobs <= 1)
        return RunOneByOne(jobs);
    return CParallelRun(jobs).Run();
}
