// libFuzzer target for the SER reader: any byte string is written to a file and read
// the way the processing run and the player read it. Beyond the sanitizers, it checks
// that a pass delivers exactly FrameCount frames and that random access stays in range.
#include "zubser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

const std::string& InputPath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/zubser_fuzz.XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0)
            abort();
        close(fd);
        return std::string(pattern);
    }();
    return path;
}

bool WriteInput(const uint8_t* data, size_t size)
{
    std::FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (!file)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

void Check(bool condition)
{
    if (!condition)
        abort();
}

void ReadWholePass(CZubSer& ser)
{
    int frames = 0;
    while (frames <= ser.FrameCount && ser.ReadNextFrame())
        ++frames;
    Check(frames == ser.FrameCount);
    Check(!ser.IsOpen());
}

void ReadAtRandom(CZubSer& ser)
{
    const int count = ser.FrameCount;
    const int inside[] = {0, count - 1, count / 2};
    for (int index : inside)
        Check(ser.ReadFrame(index) == (index >= 0 && index < count));
    const int outside[] = {count, count + 1, -1, -2147483647 - 1, 2147483647};
    for (int index : outside)
        Check(!ser.ReadFrame(index));
    Check(ser.IsOpen());
    ser.Rewind();
    if (count > 0)
        Check(ser.ReadNextFrame() && ser.m_iCurrent == 1);
    for (int index : {0, count - 1, count})
        (void)ser.FormatFrameUtc(index);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!WriteInput(data, size))
        return 0;
    CZubSer ser;
    if (!ser.Open(InputPath()))
        return 0;
    Check(ser.ImageWidth > 0 && ser.ImageHeight > 0 && ser.FrameCount >= 0);
    Check(ser.FrameCount == 0 || ser.m_pFrame.size() == ser.m_bih.biSizeImage);
    ReadWholePass(ser);
    Check(ser.Open(InputPath()));
    ReadAtRandom(ser);
    return 0;
}
