// The player: its states on a SER file and on media files, one play loop, closing while it
// plays, files that cannot be played, and every real video played to its end.
#include "zubuitest.h"

#include "zubplay.h"
#include "zubplayimg.h"
#include "zubser.h"
#include "zubsynth.h"

#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>

#include <cstring>

#ifdef ZUB_HAVE_FFMPEG
#include "zubffmpegplayer.h"
#endif

namespace
{
template <class T = QPushButton>
T* Child(const CZubPlay& player, const char* name)
{
    return player.findChild<T*>(name);
}

QString Counter(const CZubPlay& player)
{
    return Child<QLineEdit>(player, "counter")->text();
}

// A drag of the thumb to `position` and its release.
void Drag(const CZubPlay& player, int position)
{
    QSlider* trackbar = Child<QSlider>(player, "trackbar");
    trackbar->setSliderDown(true);
    trackbar->setValue(position);
    trackbar->setSliderDown(false);
}

// The enabled state of Play, Pause, Stop and the trackbar, as "1010".
QString Enabled(const CZubPlay& player)
{
    QString s;
    for (const char* name : {"playButton", "pauseButton", "stopButton", "trackbar"})
        s += Child<QWidget>(player, name)->isEnabled() ? '1' : '0';
    return s;
}

// The picture shows the bottom-up 24-bit frame.
bool Shows(const CZubPlay& player, const BITMAPINFOHEADER& bih, const uint8_t* pixels)
{
    const QImage& picture = player.Picture()->Picture();
    if (picture.width() != bih.biWidth || picture.height() != bih.biHeight)
        return false;
    const int64_t stride = ZubStride24(bih.biWidth);
    for (int row = 0; row < bih.biHeight; ++row)
        if (std::memcmp(picture.constScanLine(ZubPictureLine(row, bih.biHeight, player.Core().RowsBottomUp())), pixels + row * stride, bih.biWidth * 3) != 0)
            return false;
    return true;
}

#ifdef ZUB_HAVE_FFMPEG
// The frame of a media file that decoding from the start reaches first at or after `time`.
SZubPlayerFrame DecodedAt(const std::string& path, int64_t time, BITMAPINFOHEADER& bih)
{
    std::unique_ptr<IZubPlayerSource> source = CZubFfmpegPlayer::Factory()();
    SZubPlayerFacts facts;
    SZubPlayerFrame frame;
    std::string error;
    if (source->Open(path, facts, error))
        while (source->ReadFrame(frame, error) == EZubPlayerRead::Frame && frame.llTime < time)
        {
        }
    bih = facts.bih;
    return frame;
}
#endif

void SaveScreenshot(CZubPlay& player, const QString& name)
{
    const QPixmap bar = player.grab();
    const QPixmap picture = player.Picture()->grab();
    QPixmap both(std::max(bar.width(), picture.width()), bar.height() + picture.height());
    both.fill(Qt::darkGray);
    QPainter painter(&both);
    painter.drawPixmap(0, 0, picture);
    painter.drawPixmap(0, picture.height(), bar);
    painter.end();
    QVERIFY(both.save(ZubScreenshotPath(name)));
}
}  // namespace

class CZubPlayTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ZubApp().SetShell(&m_shell);
        m_shell.m_boxes.clear();
    }

    void SerPlaysPausesDragsStopsAndEnds()
    {
        if (!ZubHasSharedData())
            QSKIP("no real recordings beside the checkout");
        const std::string path = ZubSharedData("jupiter-dslr-256x256-mono8.ser");
        CZubPlay player(path, true, 0);
        player.show();
        QCOMPARE(player.windowTitle(), QString("Play file"));
        QVERIFY(Child(player, "closeButton")->isDefault());
        QCOMPARE(Enabled(player), QString("0000"));
        QTRY_VERIFY(player.Core().IsOpen());
        QVERIFY(player.Picture()->isVisible());
        QCOMPARE(player.Picture()->windowTitle(), QString("Play video"));
        // A tool window of the player, which window managers keep above it and the main window.
        QVERIFY(player.Picture()->parentWidget() == &player && player.Picture()->windowType() == Qt::Tool);
        QCOMPARE(player.Picture()->size(), QSize(256, 256));
        QCOMPARE(player.Picture()->frameGeometry().bottom() + 1, player.frameGeometry().top());
        QCOMPARE(Counter(player), QString("1"));
        QCOMPARE(Enabled(player), QString("1000"));
        QCOMPARE(Child<QSlider>(player, "trackbar")->maximum(), 99);

        // One loop, whatever is clicked: every tick of its timer shows the next frame.
        player.SetFrameInterval(1);
        QSignalSpy ticks(&player.PlayTimer(), &QTimer::timeout);
        QSignalSpy shown(&player, &CZubPlay::FrameShown);
        Child(player, "playButton")->click();
        Child(player, "playButton")->click();
        Child(player, "pauseButton")->click();
        Child(player, "pauseButton")->click();
        QTRY_VERIFY(shown.count() >= 20);
        Child(player, "pauseButton")->click();
        QCOMPARE(shown.count(), ticks.count());
        QCOMPARE(player.Core().ShownIndex(), shown.count() - 1);
        QCOMPARE(Child(player, "pauseButton")->text(), QString("Resume"));
        QCOMPARE(Enabled(player), QString("1111"));

        Drag(player, 60);
        QCOMPARE(Counter(player), QString("61"));
        CZubSer reader;
        QVERIFY(reader.Open(path) && reader.ReadFrame(60));
        QVERIFY(Shows(player, reader.m_bih, reader.m_pFrame.data()));
        SaveScreenshot(player, "zubplay-ser.png");

        Child(player, "stopButton")->click();
        QCOMPARE(Counter(player), QString("1"));
        QCOMPARE(Child(player, "pauseButton")->text(), QString("Pause"));
        QCOMPARE(Enabled(player), QString("1001"));
        player.SetFrameInterval(0);
        Child(player, "playButton")->click();
        QTRY_COMPARE(player.Core().State(), EZubPlayState::Stopped);
        QCOMPARE(Counter(player), QString("100"));
        QCOMPARE(Enabled(player), QString("1001"));

        Drag(player, 30);  // after the end of the file
        QVERIFY(reader.ReadFrame(30));
        QVERIFY(Shows(player, reader.m_bih, reader.m_pFrame.data()));
        QCOMPARE(Counter(player), QString("31"));
        QVERIFY(m_shell.m_boxes.empty());
    }

#ifdef ZUB_HAVE_FFMPEG
    void MediaSeeksPausesResumesAndEnds()
    {
        SZubSynthOptions options;
        options.iWidth = 160;
        options.iHeight = 120;
        options.iFrames = 50;
        options.fps = 25.0;
        std::string error;
        QVERIFY2(ZubSynthWriteVideo(options, "clip.avi", EZubSynthCodec::Mjpeg, error), error.c_str());
        CZubPlay player("clip.avi", false, 0);
        player.show();
        QTRY_VERIFY(player.Core().IsOpen());
        QCOMPARE(player.Core().FrameIntervalMs(), 40);
        QCOMPARE(Child<QSlider>(player, "trackbar")->maximum(), 1000);
        player.SetFrameInterval(1);
        Child(player, "playButton")->click();
        QTRY_VERIFY(player.Core().ShownIndex() >= 5);

        // A drag while playing: paused during the drag, playing again after it.
        Child<QSlider>(player, "trackbar")->setSliderDown(true);
        QVERIFY(!player.PlayTimer().isActive());
        Child<QSlider>(player, "trackbar")->setValue(500);
        BITMAPINFOHEADER bih;
        const SZubPlayerFrame sought = DecodedAt("clip.avi", 25 * 400000, bih);
        QCOMPARE(sought.llIndex, int64_t(25));
        QVERIFY(Shows(player, bih, sought.pixels.data()));
        QCOMPARE(Counter(player), QString("26"));
        Child<QSlider>(player, "trackbar")->setSliderDown(false);
        QVERIFY(player.PlayTimer().isActive());

        Child(player, "pauseButton")->click();
        QCOMPARE(Child(player, "pauseButton")->text(), QString("Resume"));
        QVERIFY(!player.PlayTimer().isActive());
        Child(player, "pauseButton")->click();
        QCOMPARE(Child(player, "pauseButton")->text(), QString("Pause"));
        QTRY_COMPARE(player.Core().State(), EZubPlayState::Stopped);
        QCOMPARE(Counter(player), QString("50"));
        QCOMPARE(Enabled(player), QString("1001"));
        QVERIFY(m_shell.m_boxes.empty());
    }
#endif

    void EveryRealVideoPlaysToItsEnd()
    {
        if (!ZubHasSharedData())
            QSKIP("no real recordings beside the checkout");
        const struct
        {
            const char* name;
            bool bSer;
            const char* last;
        } videos[] = {
            {"jupiter-dslr-256x256-mono8.ser", true, "100"},
#ifdef ZUB_HAVE_FFMPEG
            {"jupiter-dslr-512x512-mjpeg.avi", false, "100"},
            {"moon-1280x960-mpeg4.avi", false, "101"},
            {"jupiter-clip-128x96-audio.wmv", false, nullptr},
#endif
        };
        for (const auto& video : videos)
        {
            CZubPlay player(ZubSharedData(video.name), video.bSer, 0);
            player.show();
            QTRY_VERIFY(player.Core().IsOpen());
            player.SetFrameInterval(0);
            Child(player, "playButton")->click();
            QTRY_VERIFY_WITH_TIMEOUT(player.Core().State() == EZubPlayState::Stopped, 120000);
            if (video.last)
                QCOMPARE(Counter(player), QString(video.last));
            else
                QVERIFY(Counter(player).toInt() > 3600);
            if (std::string(video.name).ends_with("mjpeg.avi"))
                SaveScreenshot(player, "zubplay-avi.png");
        }
        QVERIFY(m_shell.m_boxes.empty());
    }

    void AFileThatFailsToOpenSaysSoOnce()
    {
        ZubWriteText("broken.avi", std::string(4000, 'x'));
        CZubPlay player("broken.avi", false, 400000);
        player.show();
        QTRY_COMPARE(m_shell.m_boxes.size(), size_t(1));
        QVERIFY(m_shell.m_boxes[0].starts_with("Cannot play broken.avi: ") && m_shell.m_boxes[0].size() > 24);
        Child(player, "playButton")->click();
        QCOMPARE(Enabled(player), QString("0000"));
        QVERIFY(!player.Picture()->isVisible());
        QVERIFY(Child(player, "closeButton")->isEnabled());
        QCOMPARE(m_shell.m_boxes.size(), size_t(1));
    }

    void CounterShowsSevenDigits()
    {
        SZubSynthOptions o;
        o.iWidth = 32;
        o.iHeight = 24;
        o.iFrames = 1200;
        std::string error;
        QVERIFY(ZubSynthWriteSer(o, "long.ser", error));
        CZubPlay player("long.ser", true, 0);
        player.show();
        QTRY_VERIFY(player.Core().IsOpen());
        Child(player, "playButton")->click();
        Child(player, "pauseButton")->click();
        Drag(player, 1178);
        QCOMPARE(Counter(player), QString("1179"));
        // The box's text area holds seven digits: none scrolled out of view.
        const QLineEdit* counter = Child<QLineEdit>(player, "counter");
        const QMargins text = counter->textMargins();
        QVERIFY(counter->contentsRect().width() - text.left() - text.right() - 4 >=
                counter->fontMetrics().horizontalAdvance("1234567"));
        Child(player, "closeButton")->click();
    }

    void PictureFollowsTheFrameSize()
    {
        CZubPlayImg picture(nullptr);
        const std::vector<uint8_t> pixels(ZubStride24(6) * 3, 0x80);
        QVERIFY(picture.SetPlayFrame({40, 4, 2, 1, 24, 0, 0, 0, 0, 0, 0}, pixels.data(), pixels.size(), true));
        QVERIFY(picture.SetPlayFrame({40, 6, 3, 1, 24, 0, 0, 0, 0, 0, 0}, pixels.data(), pixels.size(), true));
        QCOMPARE(picture.Picture().size(), QSize(6, 3));
        QVERIFY(!picture.SetPlayFrame({40, 8, 3, 1, 24, 0, 0, 0, 0, 0, 0}, pixels.data(), pixels.size(), true));
        QCOMPARE(picture.size(), QSize(6, 3));
    }

    void ClosingWhilePlayingStopsTheLoopFirst()
    {
        if (!ZubHasSharedData())
            QSKIP("no real recordings beside the checkout");
        bool bLoopStopped = false;
        QTimer::singleShot(0, [&] {
            auto* player = qobject_cast<CZubPlay*>(QApplication::activeModalWidget());
            QVERIFY(player);
            player->SetFrameInterval(0);
            QObject::connect(player, &CZubPlay::FrameShown, player, [&, player] {
                if (player->Core().ShownIndex() == 5)  // closed from within a frame's handler
                {
                    Child(*player, "closeButton")->click();
                    bLoopStopped = !player->PlayTimer().isActive() && !player->Picture()->isVisible();
                }
            });
            QTimer::singleShot(300, player, [player] { Child(*player, "playButton")->click(); });
        });
        CZubPlay::Play(ZubSharedData("jupiter-dslr-256x256-mono8.ser"), true, 0, nullptr);
        QVERIFY(bLoopStopped);
    }

private:
    CZubRecordingShell m_shell;
};

ZUB_QTEST_MAIN(CZubPlayTest)
#include "zubplay_test.moc"
