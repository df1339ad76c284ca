// A file written whole or not at all: its bytes go to a temporary file beside it, which is
// renamed over it only when complete, so that a full disk or a crash never leaves the old
// file gone or a new one cut short. A device or a pipe the user named is written directly.
#pragma once

#include <cstdio>
#include <string>

class CZubReplacingFile
{
public:
    CZubReplacingFile() = default;
    CZubReplacingFile(const CZubReplacingFile&) = delete;
    CZubReplacingFile& operator=(const CZubReplacingFile&) = delete;
    ~CZubReplacingFile();  // an unfinished temporary file is removed

    // False with the reason in words when nothing can be written there.
    bool Open(const std::string& path, std::string& reason);
    FILE* Stream() const { return m_file; }
    // Flushes, closes and puts the file in place; false with the reason in words (the old
    // file, if any, is left as it was).
    bool Commit(std::string& reason);

private:
    void Discard();

    FILE* m_file = nullptr;
    std::string m_path;
    std::string m_temp;  // empty: written directly
    int m_tracked = -1;  // removed should the process end by a signal meanwhile
};
