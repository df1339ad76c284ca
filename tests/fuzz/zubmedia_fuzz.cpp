// libFuzzer target for the FFmpeg sources: any bytes are a video, read from memory. The
// processing source runs it to the end and the player reads, seeks and reads again; every
// frame must have the size the open announced, and the end must stay the end.
#include "zubapp.h"
#include "zubavstream.h"
#include "zubffmpeg.h"
#include "zubffmpegplayer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace
{
// Larger frames only slow the search down: the code paths are the same.
constexpr uint32_t kMaxFrameBytes = 1 << 18;
// A pass stops here; a video that takes longer than that is not a hang of ours.
constexpr int kMaxFrames = 300;
constexpr auto kMaxPass = std::chrono::seconds(10);

void Check(bool condition)
{
    if (!condition)
        abort();
}

// The failures' message boxes would only fill the output.
class CQuietShell : public IZubShell
{
public:
    void MessageBox(const std::string&) override {}
    bool HasWindows() const override { return false; }
};

void Process(const std::string& name, uint32_t frameBytes)
{
    CZubFfmpegSource source;
    SZubMediaFacts facts;
    if (!source.Connect(name, &facts))
        return;
    Check(facts.bih.biSizeImage == frameBytes && facts.llFrames >= 0);
    std::atomic<int> frames{0};
    std::atomic<bool> bBadFrame{false};
    Check(source.Run(
        [&](double, const uint8_t* pixels, long length) {
            if (!pixels || length != static_cast<long>(frameBytes))
                bBadFrame = true;
            ++frames;
            return 0;
        },
        nullptr));
    const auto giveUp = std::chrono::steady_clock::now() + kMaxPass;
    while (!source.TakeEndOfStream() && frames < kMaxFrames && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    source.Stop();
    Check(!bBadFrame);
}

// Reads up to `count` frames; false at an error or the end of the stream, which then stays.
bool Read(IZubPlayerSource& player, uint32_t frameBytes, int count)
{
    SZubPlayerFrame frame;
    std::string error;
    for (int i = 0; i < count; ++i)
    {
        const EZubPlayerRead read = player.ReadFrame(frame, error);
        if (read != EZubPlayerRead::Frame)
        {
            Check(read != EZubPlayerRead::EndOfStream || player.ReadFrame(frame, error) == read);
            return false;
        }
        Check(frame.pixels.size() == frameBytes);
    }
    return true;
}

void Play(const std::string& name, uint32_t frameBytes, FuzzedDataProvider& input)
{
    CZubFfmpegPlayer player;
    SZubPlayerFacts facts;
    std::string error;
    if (!player.Open(name, facts, error))
        return;
    Check(facts.bih.biSizeImage == frameBytes);
    Read(player, frameBytes, 4);
    for (int seek = 0; seek < 4 && input.remaining_bytes() > 0; ++seek)
    {
        // Mostly inside the video, sometimes anywhere at all.
        const bool bAnywhere = input.ConsumeIntegralInRange(0, 7) == 0;
        const int64_t target = bAnywhere ? input.ConsumeIntegral<int64_t>() : input.ConsumeIntegralInRange<int64_t>(-1, 40);
        const bool bSought = input.ConsumeBool() ? player.SeekFrame(target, error)
                                                 : player.SeekTime(bAnywhere ? target : target * 400000, error);
        if (bSought)
            Read(player, frameBytes, 2);
    }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("ZUB_REGISTRY", "/nonexistent/zubmedia_fuzz.ini", 1);  // never the user's settings
    static CQuietShell shell;
    ZubApp().SetShell(&shell);
    ZubAvQuietLogs();
    ZubAvSetDecoderThreads(1);  // a decoder's threads cost more to start than its few frames
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name = ZubAvAddMemoryVideo(data, size);
    CZubAvStream probe;
    std::string reason;
    if (probe.Open(name, reason) == EZubAvOpen::Ok && probe.bih.biSizeImage <= kMaxFrameBytes)
    {
        // The seeks come from the input's last bytes, so that the video's own bytes move them.
        FuzzedDataProvider input(data, size);
        Process(name, probe.bih.biSizeImage);
        Play(name, probe.bih.biSizeImage, input);
    }
    ZubAvRemoveMemoryVideo(name);
    return 0;
}
