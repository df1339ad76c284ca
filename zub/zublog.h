// The one log: ordinary lines (console window and file), view lines (the main view's box,
// then as ordinary) and detail lines (file only), plus the frame trace rule.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#define ZUB_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))

struct SZubParams;
class CZubWnd;

class CZubLog
{
public:
    static constexpr size_t kBufferSize = 8192;

    explicit CZubLog(const SZubParams& params);
    ~CZubLog();
    CZubLog(const CZubLog&) = delete;
    CZubLog& operator=(const CZubLog&) = delete;

    // The window that receives WM_LOG_VIEW and WM_LOG_CONSOLE; null: no window output.
    void SetView(CZubWnd* pView);
    CZubWnd* GetView() const { return m_pView; }

    void Log(const char* format, ...) ZUB_PRINTF(2, 3);
    void LogView(const char* format, ...) ZUB_PRINTF(2, 3);
    void LogDetail(const char* format, ...) ZUB_PRINTF(2, 3);
    // A per-frame line: ordinary when WriteConsole is on, else a detail line when LogProcess
    // and LogDetails are both on, else nothing.
    void LogTrace(const char* format, ...) ZUB_PRINTF(2, 3);

    // Already formatted text: written as it stands, never formatted again.
    void LogText(const std::string& text);
    void LogViewText(const std::string& text);
    void LogDetailText(const std::string& text);
    void LogTraceText(const std::string& text);

    void ResetFile();
    void CloseFile();
    bool IsFileOpen() const;

private:
    static std::string Format(const char* format, va_list args);
    void SendToConsole(const std::string& text);
    void AppendToFile(const std::string& text);
    FILE* OpenFile(const char* mode, std::string& failure);
    void ReportOpenFailure(const std::string& failure);

    const SZubParams& m_params;
    CZubWnd* m_pView = nullptr;
    FILE* m_file = nullptr;
    std::string m_sReportedFailure;  // the file name whose open failure was reported
    mutable std::mutex m_fileMutex;
};
