// Where the candidates' patches live: one record per frame holding the patch of every
// candidate. The first frames stay in memory up to a budget; the rest go to a temporary file
// that is removed as soon as it is made, so memory does not grow with frames x candidates
// and nothing is left behind. The results pass writes the frames in order; the results
// window reads any of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CZubPatchStore
{
public:
    static constexpr size_t kDefaultMemoryBytes = size_t{128} << 20;

    CZubPatchStore() = default;
    ~CZubPatchStore();
    CZubPatchStore(const CZubPatchStore&) = delete;
    CZubPatchStore& operator=(const CZubPatchStore&) = delete;

    // Room for `frames` records of `recordBytes` bytes, all zero: at most `memoryBytes` of
    // them in memory. False with the reason when the room cannot be made; the store is then
    // empty.
    bool Reset(int frames, size_t recordBytes, size_t memoryBytes, std::string& error);
    void Clear();

    // The record of 0-based `frame`, to be written: it keeps what it held until then. Null
    // outside the records and once the file failed. Valid until the next Write.
    uint8_t* Write(int frame);
    // The record of 0-based `frame` as last written; null outside the records and for a
    // frame lost with the file. Valid until the next Write or Reset.
    const uint8_t* Read(int frame) const;

    // Writes the last record out; false (with the reason in Error) when a record was lost.
    bool Flush();
    // Why records were lost, or "" while none was.
    const std::string& Error() const { return m_csError; }
    int Frames() const { return m_nFrames; }
    int MemoryFrames() const { return m_nMemoryFrames; }

private:
    bool OpenFile(size_t bytes, std::string& error);
    int64_t FileOffset(int frame) const;
    void FlushPending();
    // The record in memory or the one being written; null for the file's others.
    uint8_t* InMemory(int frame);

    int m_nFrames = 0;
    int m_nMemoryFrames = 0;
    size_t m_nRecordBytes = 0;
    std::vector<uint8_t> m_memory;
    int m_fd = -1;
    const uint8_t* m_pMap = nullptr;   // the file, mapped for reading
    size_t m_nMapBytes = 0;
    std::vector<uint8_t> m_pending;    // the file frame being written
    int m_iPendingFrame = -1;
    int m_iFirstLostFrame = -1;        // frames from here on did not reach the file
    std::vector<bool> m_written;       // by file frame: written once (else it reads as zeros)
    std::string m_csError;
};
