// The player: a small control bar (trackbar, Play, Pause/Resume, Stop, the frame counter,
// Close) with its picture window above it. Its logic is CZubPlayState's; three timers drive
// it: the start (the file is opened once the bar is on screen), the position (counter and
// trackbar, every 100 ms once playing) and the play loop, the only one that reads frames.
#pragma once

#include "zubplaystate.h"

#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

class CZubPlayImg;

namespace Ui
{
class CZubPlay;
}

class CZubPlay : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kStartDelayMs = 100;
    static constexpr int kPositionPeriodMs = 100;

    CZubPlay(const std::string& path, bool bSer, int64_t llAvgTimePerFrame, QWidget* parent = nullptr);
    ~CZubPlay() override;

    // Runs the player modally until "Close".
    static void Play(const std::string& path, bool bSer, int64_t llAvgTimePerFrame, QWidget* parent);

    // Frames this many milliseconds apart instead of at the video's rate (tests).
    void SetFrameInterval(int ms);

    const CZubPlayState& Core() const { return m_core; }
    CZubPlayImg* Picture() const { return m_pPicture; }
    const QTimer& PlayTimer() const { return m_playTimer; }

public slots:
    // Stops every timer before the player closes, so no frame is read after it.
    void done(int result) override;

signals:
    // A new frame went to the picture window.
    void FrameShown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnStart();
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnStep();
    void OnTrackPressed();
    void OnTrackChanged(int position);
    void OnTrackReleased();

    // After every change: the frame, the controls, the play loop, a failure's message.
    void Refresh();
    void ShowNewFrame();
    void UpdateControls();
    void SyncPlayLoop();
    void PlacePicture();

    std::unique_ptr<Ui::CZubPlay> m_ui;
    CZubPlayImg* m_pPicture;
    CZubPlayState m_core;
    const std::string m_path;
    const bool m_bSer;
    const int64_t m_llAvgTimePerFrame;
    QTimer m_startTimer;
    QTimer m_positionTimer;
    QTimer m_playTimer;
    uint64_t m_shownSerial = 0;
    int m_iIntervalOverride = -1;
};
