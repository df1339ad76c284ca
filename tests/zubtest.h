// Helpers shared by the core tests.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The temporary folder the test process runs in (also its working directory).
const std::string& ZubTestDir();
// A file of the real recordings beside the checkout (../shared/data/NAME).
std::string ZubSharedData(const std::string& name);
// False in a bare clone: the tests on real recordings then skip instead of failing.
bool ZubHasSharedData();
#define ZUB_SKIP_WITHOUT_SHARED_DATA() \
    if (!ZubHasSharedData())           \
    GTEST_SKIP() << "no real recordings beside the checkout"
bool ZubFileExists(const std::string& path);
std::vector<uint8_t> ZubReadFile(const std::string& path);
std::string ZubReadText(const std::string& path);
void ZubWriteFile(const std::string& path, const void* data, size_t size);
void ZubWriteText(const std::string& path, const std::string& text);
// Parameters at their first-start defaults, log lines captured, no log file.
void ZubResetApp();

// Sets an environment variable for the scope, then puts back what was there.
class CZubScopedEnv
{
public:
    CZubScopedEnv(const char* name, const char* value);
    ~CZubScopedEnv();
    CZubScopedEnv(const CZubScopedEnv&) = delete;
    CZubScopedEnv& operator=(const CZubScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_bHad = false;
};

// Ends the process with a message when a test stops making progress: a deadlock would
// otherwise hang until the test driver's time-out, without saying where.
class CWatchdog
{
public:
    explicit CWatchdog(int limitSeconds);
    ~CWatchdog();
    void Progress(const std::string& where);

private:
    void Watch();

    int m_limit;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    uint64_t m_progress = 0;
    std::string m_where = "start";
    bool m_bDone = false;
    std::thread m_thread;
};

#include "zubapp.h"
#include "zubwnd.h"

// Collects the message boxes the core raises.
class CZubRecordingShell : public IZubShell
{
public:
    void MessageBox(const std::string& text) override { m_boxes.push_back(text); }
    std::vector<std::string> m_boxes;
};

// Collects the log lines sent to the view: "V:" view box, "C:" console.
class CZubLogRecorderWnd : public CZubWnd
{
public:
    LRESULT WindowProc(UINT msg, WPARAM, LPARAM lParam) override
    {
        if (msg == WM_LOG_VIEW)
            m_lines.push_back("V:" + std::string(reinterpret_cast<const char*>(lParam)));
        else if (msg == WM_LOG_CONSOLE)
            m_lines.push_back("C:" + std::string(reinterpret_cast<const char*>(lParam)));
        return 0;
    }
    // The console lines only, without prefix.
    std::vector<std::string> ConsoleLines() const;
    std::vector<std::string> m_lines;
};
