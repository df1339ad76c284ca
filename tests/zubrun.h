// A whole headless application for end-to-end runs: loop, shell, document and view.
#pragma once

#include "zubdoc.h"
#include "zubheadlessloop.h"
#include "zubheadlessshell.h"
#include "zubsynth.h"
#include "zubview.h"

#include <string>
#include <vector>

class CZubTestRun
{
public:
    CZubTestRun();
    ~CZubTestRun();

    // Opens the file (the framework's open) and dispatches until the run is over.
    bool Open(const std::string& path, int timeoutMs = 60000);
    // Dispatches until the document is no longer running (or the time is up).
    bool WaitIdle(int timeoutMs = 60000);
    // Writes a synthetic SER into the working folder.
    static std::string Synth(const std::string& name, const SZubSynthOptions& options);
    bool HasLine(const std::string& line) const;
    // Index of the first console line equal to `line`, or -1.
    int LineIndex(const std::string& line) const;

    CZubHeadlessLoop m_loop;
    CZubHeadlessShell m_shell;
    CZubDoc m_doc;
    CZubView m_view{m_doc};
    std::vector<std::string> m_lines;  // console lines
};
