// The image display's pixels (bottom-up rows, gray, mark, crosshair, mask tint, crop) and
// the image window around a frame.
#include "zubuitest.h"

#include "zubbmpimage.h"
#include "zubcandidate.h"
#include "zubframe.h"
#include "zubshowframedlg.h"

#include <QScrollArea>
#include <QScrollBar>

#include <cmath>

namespace
{
const QRgb kGreen = qRgb(0, 255, 0);

QImage Grab(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// An 8-bit frame whose pixel (x, y) is f(x, y).
template <class F>
void FillGray(CZubFrame& frame, int width, int height, F f)
{
    frame.Create(width, height, FRAME_MONO8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            *frame.GetPixel(x, y) = static_cast<uint8_t>(f(x, y));
}

// The smallest rectangle holding every pixel of the colour.
QRect BoundsOf(const QImage& image, QRgb colour)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// A banded, limb-darkened disc as a 16-bit mean frame, and its disc as the mask.
void MakePlanet(CZubFrame& mean, CZubFrame& mask, int width, int height)
{
    mean.Create(width, height, FRAME_MONO16);
    mask.Create(width, height, FRAME_MONO8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            const double dx = x - width / 2.0, dy = (y - height / 2.0) / 0.93;
            const double r = std::sqrt(dx * dx + dy * dy) / (height * 0.3);
            const bool disc = r < 1.0;
            *mean.GetPixel16(x, y) = static_cast<uint16_t>(
                disc ? 360.0 * (1.0 - 0.5 * r * r) + 40.0 * std::sin(dy / 7.0) : 12.0);
            *mask.GetPixel(x, y) = disc ? 1 : 0;
        }
}
}  // namespace

class CZubBmpImageTest : public QObject
{
    Q_OBJECT

private slots:
    void DrawsRowsBottomUpInGrayAndColour()
    {
        CZubBmpImage view;
        view.resize(8, 6);
        QImage face(8, 6, QImage::Format_RGB32);
        face.fill(view.palette().color(QPalette::Button));
        QCOMPARE(Grab(view), face);  // no picture yet

        CZubFrame gray;
        FillGray(gray, 4, 3, [](int x, int y) { return 10 * (y + 1) + x; });
        view.SetImage(&gray, true);
        QImage shot = Grab(view);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                QCOMPARE(shot.pixel(x, 2 - y), qRgb(10 * (y + 1) + x, 10 * (y + 1) + x, 10 * (y + 1) + x));
        QCOMPARE(shot.pixel(5, 1), face.pixel(0, 0));

        CZubFrame colour;
        colour.Create(2, 2, FRAME_COLOR_RGB24);
        uint8_t* bgr = colour.GetPixelRGB(1, 0);
        bgr[0] = 1, bgr[1] = 2, bgr[2] = 3;
        view.SetImage(&colour, true);
        QCOMPARE(Grab(view).pixel(1, 1), qRgb(3, 2, 1));

        CZubFrame accumulator;
        accumulator.Create(4, 4, FRAME_MONO16);
        view.SetImage(&accumulator, true);  // not a displayable layout
        QVERIFY(!view.HasPicture());
        view.SetImage(&colour, true);
        view.SetImage(nullptr, true);
        QCOMPARE(Grab(view), face);
    }

    void MarksTheCandidateAndCropsALargePicture()
    {
        CZubBmpImage view;
        view.resize(40, 40);
        CZubFrame frame;
        FillGray(frame, 40, 40, [](int, int) { return 0; });
        view.SetImage(&frame, true);
        CZubCandidate record;
        record.m_ptKiv = {20, 9};
        view.SetMark(record);
        QVERIFY(BoundsOf(Grab(view), kGreen).isNull());  // no value, no mark
        record.m_iKivValue = 7;
        view.SetMark(record);
        // Around (x, h - 1 - y) = (20, 30): the box (15, 25) .. (25, 35), right and bottom excluded.
        QCOMPARE(BoundsOf(Grab(view), kGreen), QRect(QPoint(15, 25), QPoint(24, 34)));

        view.SetCrop(true);
        view.resize(700, 520);
        FillGray(frame, 1024, 768, [](int x, int y) { return (x + 3 * y) & 0xff; });
        view.SetImage(&frame, true);
        record.m_ptKiv = {100, 199};
        view.SetMark(record);
        const QImage shot = Grab(view);
        QCOMPARE(shot.pixel(0, 479), qRgb(0, 0, 0));  // frame row 0 on the bottom line
        const int corner = (639 + 3 * 479) & 0xff;
        QCOMPARE(shot.pixel(639, 0), qRgb(corner, corner, corner));
        QCOMPARE(shot.pixel(640, 0), view.palette().color(QPalette::Button).rgb());
        QCOMPARE(BoundsOf(shot, kGreen).center(), QPoint(99, 279));  // (100, 480 - 1 - 199)
    }

    void DrawsTheCrosshairWithItsGaps()
    {
        CZubBmpImage view;
        view.resize(110, 90);
        CZubFrame frame;
        FillGray(frame, 100, 80, [](int, int) { return 50; });
        view.SetImage(&frame, true);
        view.SetCenter(50, 29);  // screen (50, 80 - 1 - 29)
        const QImage shot = Grab(view);
        const auto green = [&](int x, int y) { return shot.pixel(x, y) == kGreen; };
        // Horizontal: [0, 40) and [60, 100); the circle's box is 40 .. 59.
        QVERIFY(green(0, 50) && green(39, 50) && green(40, 50) && green(59, 50));
        QVERIFY(!green(45, 50) && !green(50, 50) && !green(55, 50));
        QVERIFY(green(60, 50) && green(99, 50) && !green(100, 50));
        // Vertical: [0, 40) and [60, 80).
        QVERIFY(green(50, 0) && green(50, 39) && !green(50, 45) && !green(50, 55));
        QVERIFY(green(50, 60) && green(50, 79) && !green(50, 80));
    }

    void TintsEverythingOutsideTheMaskRed()
    {
        CZubBmpImage view;
        view.resize(10, 10);
        CZubFrame frame, mask, wrongSize;
        FillGray(frame, 10, 10, [](int, int) { return 200; });
        FillGray(mask, 10, 10, [](int x, int y) { return x < 5 && y < 8 ? 1 : 0; });
        FillGray(wrongSize, 4, 4, [](int, int) { return 0; });
        view.SetImage(&frame, true);
        view.OverlayMask(wrongSize);  // refused
        view.OverlayMask(mask);
        const QImage shot = Grab(view);
        QCOMPARE(shot.pixel(2, 9), qRgb(200, 200, 200));  // frame row 0, inside
        QCOMPARE(shot.pixel(7, 9), qRgb(128, 200, 200));
        QCOMPARE(shot.pixel(2, 0), qRgb(128, 200, 200));  // frame row 9, outside
    }

    void ImageWindowShowsALargeFrameWhole()
    {
        CZubFrame mean;
        mean.Create(3000, 2000, FRAME_MONO16);
        for (int y = 0; y < 2000; ++y)
            std::fill_n(mean.GetRow16(y), 3000, static_cast<uint16_t>(y < 1000 ? 100 : 510));
        CZubShowFrameDlg dialog;
        dialog.SetTitle("Mean image of 12 frames");
        dialog.ShowFrame(mean, true);
        dialog.SetCenter(2500, 1499);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("Mean image of 12 frames"));
        QCOMPARE(dialog.Image()->size(), QSize(3000, 2000));
        QVERIFY(dialog.width() <= dialog.screen()->availableGeometry().width());
        const QScrollArea* scroll = dialog.findChild<QScrollArea*>();
        const QRect visible(QPoint(scroll->horizontalScrollBar()->value(), scroll->verticalScrollBar()->value()),
                            scroll->viewport()->size());
        QVERIFY(visible.contains(2500, 500));  // scrolled to the crosshair
        const QImage shot = Grab(*dialog.Image());
        QCOMPARE(shot.pixel(10, 1990), qRgb(50, 50, 50));  // 100 of 510, stretched
        QCOMPARE(shot.pixel(10, 10), qRgb(255, 255, 255));
        QCOMPARE(shot.pixel(2900, 500), kGreen);  // crosshair at (2500, 2000 - 1 - 1499)
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubshowframedlg-large.png")));
    }

    void ImageWindowScreenshotOfAPlanetAndItsMask()
    {
        CZubFrame mean, mask;
        MakePlanet(mean, mask, 360, 270);
        CZubShowFrameDlg dialog;
        dialog.SetTitle("Mask frame");
        dialog.ShowFrameWithMask(mean, mask, true);
        dialog.SetCenter(180, 135);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(qRed(Grab(*dialog.Image()).pixel(5, 5)), 128);
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubshowframedlg-mask.png")));
    }
};

ZUB_QTEST_MAIN(CZubBmpImageTest)
#include "zubbmpimage_test.moc"
