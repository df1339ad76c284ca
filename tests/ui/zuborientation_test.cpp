// Every display shows a video as its file stores it, first row at the top, and gives its
// positions as the picture is read: one recording as SER (rows top-down), lossless AVI and
// MPEG (both decoded bottom-up), a bright moon and a flash up and left of the planet's centre.
#include "zubdlgtest.h"

#include "mainfrm.h"
#include "zubbmpimage.h"
#include "zubcommands.h"
#include "zubdesktopapp.h"
#include "zubdoc.h"
#include "zubpictures.h"
#include "zubplay.h"
#include "zubplayimg.h"
#include "zubresultsdlg.h"
#include "zubshowframedlg.h"
#include "zubsynth.h"
#include "zubviewform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace
{
#ifdef ZUB_HAVE_FFMPEG
constexpr const char* kKinds[] = {"ser", "avi", "mpg"};
#else
constexpr const char* kKinds[] = {"ser"};
#endif

// Still, so that the moon stays in the mean and only the flash is a candidate.
QString Video(const QString& kind)
{
    SZubSynthOptions o;
    o.iWidth = 320;
    o.iHeight = 240;
    o.iFrames = 90;
    o.seed = 9;
    o.jitter = 0.0;
    o.driftX = o.driftY = 0.0;
    o.flash = {40, 6, -25.0, -20.0, 70.0, 1.2};
    o.moons.push_back({1, 90, -35.0, -30.0, -35.0, -30.0, 3.0, 255.0});
    const std::string path = "up-left." + kind.toStdString();
    std::string error;
    const EZubSynthCodec codec = kind == "avi" ? EZubSynthCodec::RawBgr24 : EZubSynthCodec::Mpeg1;
    const bool bWritten = kind == "ser" ? ZubSynthWriteSer(o, path, error) : ZubSynthWriteVideo(o, path, codec, error);
    return bWritten ? QString::fromStdString(path) : QString();
}

// The mean place of the nearly white pixels, relative to the picture's centre; (0, 0) when
// there are none.
QPointF BrightFromCentre(const QImage& picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QRgb p = image.pixel(x, y); qRed(p) > 235 && qGreen(p) > 235 && qBlue(p) > 235)
                sx += x, sy += y, ++n;
    if (n == 0)
        return {};
    return {sx / n - (image.width() - 1) / 2.0, sy / n - (image.height() - 1) / 2.0};
}

bool UpLeft(QPointF p)
{
    return p.x() < -2 && p.y() < -2;
}

QString Where(QPointF p)
{
    return QString("(%1, %2)").arg(p.x()).arg(p.y());
}

#define VERIFY_UP_LEFT(what, image)                                                          \
    do                                                                                       \
    {                                                                                        \
        const QPointF at = BrightFromCentre(image);                                          \
        QVERIFY2(UpLeft(at), qPrintable(QString(what) + " at " + Where(at)));                \
    } while (false)

constexpr const char* kSettings = "[Settings]\nProcessAuto=dword:1\nShowResults=dword:0\n";
}  // namespace

class CZubOrientationTest : public QObject
{
    Q_OBJECT

private slots:
    void EveryDisplayUpright_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : kKinds)
            QTest::newRow(kind) << kind;
    }

    void EveryDisplayUpright()
    {
        QFETCH(QString, kind);
        const QString video = Video(kind);
        if (video.isEmpty())
            QSKIP("no ffmpeg program to write the AVI");
        ZubResetApp();
        ZubWriteText(std::getenv("ZUB_REGISTRY"), kSettings);
        CZubDesktopApp app;
        app.StartUp(CZubDesktopApp::CommandLineFile({"zub", QString()}));
        CMainFrame& frame = app.Frame();
        CZubDoc& doc = frame.Document();
        QVERIFY(frame.OpenDocument(video));
        QVERIFY(doc.RunUntilIdle(120000));
        QCOMPARE(doc.CandidateCount(), 1);
        const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[0];

        // The planet's centre as the picture is read: the disc sits in the middle of the frame.
        const int centreY = frame.View()->findChild<QLineEdit*>("editCenterY")->text().toInt();
        QVERIFY2(std::abs(centreY - 119) <= 1, qPrintable(QString::number(centreY)));
        const CZubBmpImage* view = frame.View()->Image();
        VERIFY_UP_LEFT("main view", frame.View()->Image()->grab(QRect(QPoint(), view->PictureSize())).toImage());
        for (const UINT id : {ID_VIEW_MEAN, ID_VIEW_MASK})
        {
            QImage shown;
            ZubOnNextModal([&](QDialog& d) { shown = qobject_cast<CZubShowFrameDlg*>(&d)->Image()->grab().toImage(); });
            frame.Action(id)->trigger();
            VERIFY_UP_LEFT(id == ID_VIEW_MEAN ? "mean" : "mask", shown);
        }

        CZubResultsDlg results(doc);
        // Picture coordinates from the planet's centre, whatever the row order.
        const int x = results.findChild<QLineEdit*>("xEdit")->text().toInt();
        const int y = results.findChild<QLineEdit*>("yEdit")->text().toInt();
        QVERIFY2(std::abs(x + 25) <= 2 && std::abs(y + 20) <= 2, qPrintable(QString("X %1 Y %2").arg(x).arg(y)));
        QCOMPARE(ZubPicturePosition(doc, impact), (SZubPoint{x, y}));
        VERIFY_UP_LEFT("thumbnail", results.findChild<QWidget*>("thumb0")->grab().toImage());
        QImage candidate;
        QPoint crosshair;
        ZubOnNextModal([&](QDialog& d) {
            CZubBmpImage* image = qobject_cast<CZubShowFrameDlg*>(&d)->Image();
            candidate = image->grab().toImage();
            crosshair = image->ScreenPoint(image->Center());
        });
        results.findChild<QPushButton*>("showFrameButton")->click();
        VERIFY_UP_LEFT("candidate frame", candidate);
        QVERIFY(crosshair.x() < candidate.width() / 2 - 2 && crosshair.y() < candidate.height() / 2 - 2);

        CZubPlay player(video.toStdString(), kind == "ser", 0);
        QSignalSpy shown(&player, &CZubPlay::FrameShown);
        player.show();
        QTRY_VERIFY(shown.count() > 0);
        VERIFY_UP_LEFT("player", player.Picture()->Picture());
        player.done(0);
    }
};

ZUB_QTEST_MAIN(CZubOrientationTest)
#include "zuborientation_test.moc"
