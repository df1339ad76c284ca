#include "zublog.h"

#include "zubapp.h"
#include "zubwnd.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace
{
// A line holds at most this many characters before its line end.
constexpr size_t kMaxLine = CZubLog::kBufferSize - 2;
}  // namespace

CZubLog::CZubLog(const SZubParams& params) : m_params(params) {}

CZubLog::~CZubLog()
{
    CloseFile();
}

void CZubLog::SetView(CZubWnd* pView)
{
    m_pView = pView;
}

std::string CZubLog::Format(const char* format, va_list args)
{
    char buffer[kBufferSize];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0)
        return {};
    return std::string(buffer, std::min(static_cast<size_t>(n), kMaxLine));
}

#define ZUB_FORMAT_ARGS(format, text)                                                          \
    va_list args;                                                                              \
    va_start(args, format);                                                                    \
    const std::string text = Format(format, args);                                             \
    va_end(args)

void CZubLog::Log(const char* format, ...)
{
    ZUB_FORMAT_ARGS(format, text);
    LogText(text);
}

void CZubLog::LogView(const char* format, ...)
{
    ZUB_FORMAT_ARGS(format, text);
    LogViewText(text);
}

void CZubLog::LogDetail(const char* format, ...)
{
    ZUB_FORMAT_ARGS(format, text);
    LogDetailText(text);
}

void CZubLog::LogTrace(const char* format, ...)
{
    ZUB_FORMAT_ARGS(format, text);
    LogTraceText(text);
}

#undef ZUB_FORMAT_ARGS

void CZubLog::LogText(const std::string& text)
{
    SendToConsole(text);
    if (m_params.LogProcess)
        AppendToFile(text);
}

void CZubLog::LogViewText(const std::string& text)
{
    if (m_pView)
        m_pView->SendMessage(WM_LOG_VIEW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    LogText(text);
}

void CZubLog::LogDetailText(const std::string& text)
{
    AppendToFile(text);
}

void CZubLog::LogTraceText(const std::string& text)
{
    if (m_params.WriteConsole)
        LogText(text);
    else if (m_params.LogProcess && m_params.LogDetails)
        LogDetailText(text);
}

void CZubLog::SendToConsole(const std::string& text)
{
    if (m_pView)
        m_pView->SendMessage(WM_LOG_CONSOLE, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// Called with the file lock held. A failure is reported once per file name (until the
// file opens again): `failure` gets the text, which the caller reports after the lock.
FILE* CZubLog::OpenFile(const char* mode, std::string& failure)
{
    FILE* file = std::fopen(m_params.LogFilename.c_str(), mode);
    if (file)
        m_sReportedFailure.clear();
    else if (m_params.LogFilename != m_sReportedFailure)
    {
        m_sReportedFailure = m_params.LogFilename;
        failure = "Cannot open log file: " + m_params.LogFilename + " (" + std::strerror(errno) + ")";
    }
    return file;
}

// The run goes on without its file; the user is told on the console and in a box.
void CZubLog::ReportOpenFailure(const std::string& failure)
{
    if (failure.empty())
        return;
    SendToConsole(failure);
    ZubMessageBox(failure);
}

void CZubLog::AppendToFile(const std::string& text)
{
    if (!m_params.LogProcess || m_params.LogFilename.empty())
        return;
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        if (!m_file)
            m_file = OpenFile("ab", failure);
        if (m_file)  // otherwise dropped; the next line tries again
        {
            std::fwrite(text.data(), 1, std::min(text.size(), kMaxLine), m_file);
            std::fputc('\n', m_file);
            std::fflush(m_file);
            if (m_params.LogFlush)
            {
                std::fclose(m_file);
                m_file = nullptr;
            }
        }
    }
    ReportOpenFailure(failure);
}

void CZubLog::ResetFile()
{
    if (!m_params.LogProcess || m_params.LogFilename.empty())
        return;
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        if (m_file)
            std::fclose(m_file);
        m_file = OpenFile("wb", failure);
        if (m_file && m_params.LogFlush)
        {
            std::fclose(m_file);
            m_file = nullptr;
        }
    }
    ReportOpenFailure(failure);
}

void CZubLog::CloseFile()
{
    std::lock_guard<std::mutex> lock(m_fileMutex);
    if (m_file)
    {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool CZubLog::IsFileOpen() const
{
    std::lock_guard<std::mutex> lock(m_fileMutex);
    return m_file != nullptr;
}
