#include "zubtest.h"

#include "zubapp.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

const std::string& ZubTestDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/zubtest.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made)
            throw std::runtime_error("cannot create a temporary folder");
        return std::string(made);
    }();
    return dir;
}

std::string ZubSharedData(const std::string& name)
{
    return std::string(ZUB_SHARED_DATA_DIR) + "/" + name;
}

bool ZubHasSharedData()
{
    return ZubFileExists(ZubSharedData("jupiter-dslr-256x256-mono8.ser"));
}

bool ZubFileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

std::vector<uint8_t> ZubReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ZubReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void ZubWriteFile(const std::string& path, const void* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void ZubWriteText(const std::string& path, const std::string& text)
{
    ZubWriteFile(path, text.data(), text.size());
}

void ZubResetApp()
{
    CZubApp& app = ZubApp();
    app.m_log.CloseFile();
    app.m_params = SZubParams::Defaults();
    app.m_log.SetView(nullptr);
    app.SetShell(nullptr);
    app.m_bSilent = false;
}

std::vector<std::string> CZubLogRecorderWnd::ConsoleLines() const
{
    std::vector<std::string> lines;
    for (const std::string& line : m_lines)
        if (line.rfind("C:", 0) == 0)
            lines.push_back(line.substr(2));
    return lines;
}

CWatchdog::CWatchdog(int limitSeconds) : m_limit(limitSeconds), m_thread([this] { Watch(); }) {}

CWatchdog::~CWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDone = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CWatchdog::Progress(const std::string& where)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_where = where;
    ++m_progress;
}

void CWatchdog::Watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bDone)
    {
        const uint64_t seen = m_progress;
        if (!m_wake.wait_for(lock, std::chrono::seconds(m_limit), [&] { return m_bDone || m_progress != seen; }))
        {
            std::fprintf(stderr, "no progress for %d s at %s: deadlock\n", m_limit, m_where.c_str());
            std::abort();
        }
    }
}

CZubScopedEnv::CZubScopedEnv(const char* name, const char* value) : m_name(name)
{
    if (const char* old = std::getenv(name))
    {
        m_old = old;
        m_bHad = true;
    }
    setenv(name, value, 1);
}

CZubScopedEnv::~CZubScopedEnv()
{
    if (m_bHad)
        setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}
