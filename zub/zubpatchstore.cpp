#include "zubpatchstore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace
{
std::string TemporaryFolder()
{
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

// A file nobody else can open and that goes when it is closed.
int OpenAnonymousFile(std::string& error)
{
    const std::string dir = TemporaryFolder();
#ifdef O_TMPFILE
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    std::string pattern = dir + "/zub-patches.XXXXXX";
    const int made = ::mkstemp(pattern.data());
    if (made < 0)
    {
        error = "cannot create a temporary file in " + dir + ": " + std::strerror(errno);
        return -1;
    }
    ::unlink(pattern.c_str());
    ::fcntl(made, F_SETFD, FD_CLOEXEC);
    return made;
}

// The whole of `size` bytes through pread or pwrite, which may move less at a time.
template <typename Transfer, typename Bytes>
bool TransferAll(Transfer transfer, int fd, Bytes* data, size_t size, int64_t offset)
{
    while (size > 0)
    {
        const ssize_t done = transfer(fd, data, size, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<size_t>(done);
        offset += done;
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, size_t size, int64_t offset)
{
    return TransferAll(::pwrite, fd, data, size, offset);
}

bool ReadAll(int fd, uint8_t* data, size_t size, int64_t offset)
{
    return TransferAll(::pread, fd, data, size, offset);
}
}  // namespace

CZubPatchStore::~CZubPatchStore()
{
    Clear();
}

void CZubPatchStore::Clear()
{
    if (m_pMap)
        ::munmap(const_cast<uint8_t*>(m_pMap), m_nMapBytes);
    if (m_fd >= 0)
        ::close(m_fd);
    m_pMap = nullptr;
    m_nMapBytes = 0;
    m_fd = -1;
    m_memory = {};
    m_pending = {};
    m_written = {};
    m_iPendingFrame = m_iFirstLostFrame = -1;
    m_nFrames = m_nMemoryFrames = 0;
    m_nRecordBytes = 0;
    m_csError.clear();
}

bool CZubPatchStore::Reset(int frames, size_t recordBytes, size_t memoryBytes, std::string& error)
{
    Clear();
    if (frames <= 0 || recordBytes == 0)
        return true;
    const size_t memoryFrames = std::min(static_cast<size_t>(frames), memoryBytes / recordBytes);
    try
    {
        m_memory.assign(memoryFrames * recordBytes, 0);
        if (memoryFrames < static_cast<size_t>(frames))
        {
            m_pending.assign(recordBytes, 0);
            m_written.assign(static_cast<size_t>(frames) - memoryFrames, false);
        }
    }
    catch (const std::bad_alloc&)
    {
        Clear();
        error = "not enough memory";
        return false;
    }
    m_nFrames = frames;
    m_nMemoryFrames = static_cast<int>(memoryFrames);
    m_nRecordBytes = recordBytes;
    if (m_nMemoryFrames < frames && !OpenFile(static_cast<size_t>(frames - m_nMemoryFrames) * recordBytes, error))
    {
        Clear();
        return false;
    }
    return true;
}

bool CZubPatchStore::OpenFile(size_t bytes, std::string& error)
{
    m_fd = OpenAnonymousFile(error);
    if (m_fd < 0)
        return false;
    // A sparse file: its records read as zeros until written, and it takes room only then.
    if (::ftruncate(m_fd, static_cast<off_t>(bytes)) != 0)
    {
        error = std::string("cannot size the temporary file: ") + std::strerror(errno);
        return false;
    }
    void* map = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, m_fd, 0);
    if (map == MAP_FAILED)
    {
        error = std::string("cannot map the temporary file: ") + std::strerror(errno);
        return false;
    }
    m_pMap = static_cast<const uint8_t*>(map);
    m_nMapBytes = bytes;
    return true;
}

int64_t CZubPatchStore::FileOffset(int frame) const
{
    return static_cast<int64_t>(frame - m_nMemoryFrames) * static_cast<int64_t>(m_nRecordBytes);
}

void CZubPatchStore::FlushPending()
{
    if (m_iPendingFrame < 0)
        return;
    const int frame = m_iPendingFrame;
    m_iPendingFrame = -1;
    if (WriteAll(m_fd, m_pending.data(), m_nRecordBytes, FileOffset(frame)))
    {
        m_written[static_cast<size_t>(frame - m_nMemoryFrames)] = true;
        return;
    }
    m_csError = std::string("cannot write the temporary file: ") + std::strerror(errno);
    m_iFirstLostFrame = frame;
}

uint8_t* CZubPatchStore::InMemory(int frame)
{
    if (frame >= 0 && frame < m_nMemoryFrames)
        return m_memory.data() + static_cast<size_t>(frame) * m_nRecordBytes;
    return frame >= 0 && frame == m_iPendingFrame ? m_pending.data() : nullptr;
}

uint8_t* CZubPatchStore::Write(int frame)
{
    if (frame < 0 || frame >= m_nFrames)
        return nullptr;
    if (uint8_t* record = InMemory(frame))
        return record;
    FlushPending();
    if (m_iFirstLostFrame >= 0)
        return nullptr;
    if (!m_written[static_cast<size_t>(frame - m_nMemoryFrames)])
        std::fill(m_pending.begin(), m_pending.end(), uint8_t{0});
    else if (!ReadAll(m_fd, m_pending.data(), m_nRecordBytes, FileOffset(frame)))
    {
        m_csError = std::string("cannot read the temporary file: ") + std::strerror(errno);
        m_iFirstLostFrame = frame;
        return nullptr;
    }
    m_iPendingFrame = frame;
    return m_pending.data();
}

const uint8_t* CZubPatchStore::Read(int frame) const
{
    if (frame < 0 || frame >= m_nFrames)
        return nullptr;
    if (const uint8_t* record = const_cast<CZubPatchStore*>(this)->InMemory(frame))
        return record;
    if (m_iFirstLostFrame >= 0 && frame >= m_iFirstLostFrame)
        return nullptr;
    return m_pMap + FileOffset(frame);
}

bool CZubPatchStore::Flush()
{
    FlushPending();
    return m_csError.empty();
}
