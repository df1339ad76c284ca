// The player's logic without a window: the file it plays (a SER file through the reader, any
// other video through a player source), the frame on show, the play state and what each
// control of the player shows. The window forwards its buttons, trackbar and timers here and
// paints what it is told; one timer steps the play loop while IsAdvancing() holds.
#pragma once

#include "zubplayersource.h"
#include "zubtypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CZubSer;

enum class EZubPlayState
{
    Stopped,
    Paused,
    Playing,
};

// What the player's controls show, and which of them can be used.
struct SZubPlayControls
{
    bool bPlay = false;
    bool bPause = false;
    bool bStop = false;
    bool bTrackbar = false;
    std::string csPauseText = "Pause";
    std::string csCounter;  // the "Frame:" box: the 1-based number of the frame on show
    int iTrackMax = 0;      // the trackbar runs from 0 to here
    int iTrackPos = 0;
};

class CZubPlayState
{
public:
    // The trackbar of a video that is not a SER file spans its duration in these steps.
    static constexpr int kMediaTrackMax = 1000;
    // Slower "frame rates" than one frame in 10 s are not rates: such a video plays unpaced.
    static constexpr int64_t kMaxTimePerFrame = 100000000;

    CZubPlayState();
    ~CZubPlayState();
    CZubPlayState(const CZubPlayState&) = delete;
    CZubPlayState& operator=(const CZubPlayState&) = delete;

    // Opens the file and reads its first frame for show. False with the one message to show,
    // naming the file and the reason; every control but Close then stays disabled.
    // `factory` makes the source of videos that are not SER files (empty: SER files only);
    // `llAvgTimePerFrame` (100-ns units, 0 unknown) paces a video whose source gives none.
    bool Open(const std::string& path, bool bSer, int64_t llAvgTimePerFrame, const ZubPlayerFactory& factory,
              std::string& message);

    // From the first frame when stopped, else on from the frame on show; nothing while playing.
    void Play();
    // Pause when playing, resume when paused.
    void PauseResume();
    // Back to the first frame, which is shown again.
    void Stop();
    // One turn of the play loop: the next frame. At the end of the file the player stops and
    // keeps the last frame on show.
    void Step();
    // A trackbar drag: Begin at the press, To at every position, End at the release. A SER
    // file shows the frame at the position and stays paused; another video pauses during the
    // drag and then goes on as it was (paused, when it was stopped). A move without a drag
    // (keyboard, page click) is all three in a row.
    void TrackBegin();
    void TrackTo(int position);
    void TrackEnd();

    bool IsOpen() const { return m_bOpen; }
    EZubPlayState State() const { return m_eState; }
    // The play loop runs: playing, with no drag in progress.
    bool IsAdvancing() const { return m_bOpen && m_eState == EZubPlayState::Playing && !m_bDragging; }
    // Milliseconds between frames at the video's own rate; 0 when it has none (unpaced).
    int FrameIntervalMs() const;
    SZubPlayControls Controls() const;

    // The frame on show: 24-bit, laid out as the header says; FrameSerial changes with every
    // frame shown.
    const BITMAPINFOHEADER& Header() const;
    // The frame's row order (see ZubRowsBottomUp).
    bool RowsBottomUp() const { return ZubRowsBottomUp(m_bSer); }
    const uint8_t* Pixels() const;
    size_t PixelBytes() const;
    uint64_t FrameSerial() const { return m_serial; }
    // 0-based index of the frame on show; -1 when the source does not know it.
    int64_t ShownIndex() const { return m_llShown; }
    // A failure met after opening (a read or seek error), once; "" when none.
    std::string TakeMessage();

    // Outer top-left corners, relative to the screen's: the player 100 pixels from the
    // screen's left and bottom edges, the picture window right on top of it; both kept below
    // the screen's top edge, where their title bars stay in reach.
    static SZubPoint PlayerPosition(SZubSize screen, SZubSize player);
    static SZubPoint PicturePosition(SZubPoint player, SZubSize picture);

private:
    bool OpenSer(std::string& reason);
    bool OpenMedia(const ZubPlayerFactory& factory, int64_t llAvgTimePerFrame, std::string& reason);
    // SER: the span of the trailer's time stamps over the frames; 0 without a plausible one.
    int64_t SerTimePerFrame() const;
    bool ShowSerFrame(int index);
    EZubPlayerRead ReadMedia(std::string& error);
    bool SeekMedia(int64_t llTime, bool bByIndex);
    // The next frame read is the first one.
    bool Rewind();
    void ShowFirstFrame();
    // Stopped by the user or by the end of the file: the trackbar can set where to go on.
    void EndPlay();
    bool TrackUsable() const { return m_bOpen && m_bTrackAllowed && m_bSeekable; }
    void ReportFailure(const std::string& reason);
    std::string Counter() const;
    int TrackPosition() const;

    std::string m_csPath;
    bool m_bSer = false;
    bool m_bOpen = false;
    std::unique_ptr<CZubSer> m_pSer;
    std::unique_ptr<IZubPlayerSource> m_pSource;
    SZubPlayerFacts m_facts;
    SZubPlayerFrame m_frame;
    int64_t m_llTimePerFrame = 0;  // 100-ns units; 0 unknown
    int64_t m_llDuration = 0;      // media, 100-ns units; 0 unknown
    bool m_bSeekable = false;      // the trackbar can show and set the position

    EZubPlayState m_eState = EZubPlayState::Stopped;
    bool m_bTrackAllowed = false;  // the trackbar is enabled once playing began
    bool m_bDragging = false;
    bool m_bSought = false;        // the drag showed a frame
    EZubPlayState m_eBeforeDrag = EZubPlayState::Stopped;

    int64_t m_llShown = -1;        // index of the frame on show
    int64_t m_llNextSer = 0;       // SER: the frame the loop reads next
    int64_t m_llShownTime = -1;    // media: its time, 100-ns units; -1 unknown
    int64_t m_llDecoded = 0;       // media: frames read since the first one
    uint64_t m_serial = 0;
    std::string m_csMessage;
};
