#include "zubreplacefile.h"

#include "zubendsignals.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

CZubReplacingFile::~CZubReplacingFile()
{
    Discard();
}

void CZubReplacingFile::Discard()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
    m_temp.clear();
    ZubUntrackPartialFile(m_tracked);
    m_tracked = -1;
}

bool CZubReplacingFile::Open(const std::string& path, std::string& reason)
{
    Discard();
    m_path = path;
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    {
        m_file = std::fopen(path.c_str(), "wb");
        if (!m_file)
            reason = std::strerror(errno);
        return m_file != nullptr;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
    {
        reason = std::strerror(errno);
        return false;
    }
    // The permissions a new file would get, not mkstemp's private ones.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    m_temp = temp;
    m_tracked = ZubTrackPartialFile(temp);
    m_file = ::fdopen(fd, "wb");
    if (!m_file)
    {
        reason = std::strerror(errno);
        ::close(fd);
        Discard();
        return false;
    }
    return true;
}

bool CZubReplacingFile::Commit(std::string& reason)
{
    if (!m_file)
    {
        reason = "not open";
        return false;
    }
    bool ok = std::fflush(m_file) == 0 && !std::ferror(m_file);
    int cause = ok ? 0 : errno;
    if (ok && !m_temp.empty() && ::fsync(::fileno(m_file)) != 0)
        ok = false, cause = errno;
    if (std::fclose(m_file) != 0 && ok)
        ok = false, cause = errno;
    m_file = nullptr;
    if (ok && !m_temp.empty() && std::rename(m_temp.c_str(), m_path.c_str()) != 0)
        ok = false, cause = errno;
    if (ok)
    {
        m_temp.clear();
        ZubUntrackPartialFile(m_tracked);
        m_tracked = -1;
    }
    else
    {
        reason = std::strerror(cause != 0 ? cause : EIO);
        Discard();
    }
    return ok;
}
