// The image display's pixels (bottom-up rows, gray, mark, crosshair, mask tint, crop) and
// the image window around a frame.
#include "zubuitest.h"

#include "zubbmpimage.h"
#include "zubcandidate.h"
#include "zubframe.h"
#include "zubser.h"
#include "zubshowframedlg.h"
#include "zubsynth.h"

#include <QScrollArea>
#include <QScrollBar>

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

// The mean of a few frames of a synthetic planet video and its disc mask.
void MakePlanet(CZubFrame& mean, CZubFrame& mask)
{
    ZubResetApp();  // the mask threshold reads the default brightness factor
    SZubSynthOptions options;
    options.iWidth = 360;
    options.iHeight = 270;
    options.iFrames = 8;
    std::string error;
    QVERIFY2(ZubSynthWriteSer(options, "planet.ser", error), error.c_str());
    CZubSer ser;
    QVERIFY(ser.Open("planet.ser"));
    CZubFrame colour, mono;
    colour.Create(options.iWidth, options.iHeight, FRAME_COLOR_RGB24);
    mono.Create(options.iWidth, options.iHeight, FRAME_MONO8);
    mean.Create(options.iWidth, options.iHeight, FRAME_MONO16);
    while (ser.ReadNextFrame())
    {
        colour.SetPixels(ser.m_pFrame.data());
        colour.ConvertAvi2Frame(mono, {}, {}, 0);
        mean.AddToAverage(mono);
    }
    mean.DivideAverage();
    mask.Create(options.iWidth, options.iHeight, FRAME_MONO8);
    mean.MakeMask(mask);
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
        const QRgb face = view.palette().color(QPalette::Button).rgb();
        QVERIFY(BoundsOf(Grab(view), face) == QRect(0, 0, 8, 6));  // no picture yet

        CZubFrame gray;
        FillGray(gray, 4, 3, [](int x, int y) { return 10 * (y + 1) + x; });
        view.SetImage(&gray);
        QImage shot = Grab(view);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
            {
                const int g = 10 * (y + 1) + x;
                QCOMPARE(shot.pixel(x, 2 - y), qRgb(g, g, g));
            }
        QCOMPARE(shot.pixel(5, 1), face);
        QCOMPARE(shot.pixel(1, 4), face);

        CZubFrame colour;
        colour.Create(2, 2, FRAME_COLOR_RGB24);
        uint8_t* bgr = colour.GetPixelRGB(1, 0);
        bgr[0] = 1, bgr[1] = 2, bgr[2] = 3;
        view.SetImage(&colour);
        QCOMPARE(Grab(view).pixel(1, 1), qRgb(3, 2, 1));

        CZubFrame accumulator;
        accumulator.Create(4, 4, FRAME_MONO16);
        view.SetImage(&accumulator);  // not a displayable layout
        QVERIFY(!view.HasPicture());
        view.SetImage(nullptr);
        QVERIFY(BoundsOf(Grab(view), face) == QRect(0, 0, 8, 6));
    }

    void MarksTheCandidateOnlyWithAValue()
    {
        CZubBmpImage view;
        view.resize(40, 40);
        CZubFrame frame;
        FillGray(frame, 40, 40, [](int, int) { return 0; });
        view.SetImage(&frame);
        CZubCandidate record;
        record.m_ptKiv = {20, 10};
        view.SetMark(record);
        QVERIFY(BoundsOf(Grab(view), kGreen).isNull());
        record.m_iKivValue = 7;
        view.SetMark(record);
        // Around (x, h - y) = (20, 30), inside the box (15, 25) .. (25, 35), right and
        // bottom excluded.
        QCOMPARE(BoundsOf(Grab(view), kGreen), QRect(QPoint(15, 25), QPoint(24, 34)));
    }

    void CropsALargePictureToItsFirstRowsAndColumns()
    {
        CZubBmpImage view;
        view.SetCrop(true);
        view.resize(700, 520);
        CZubFrame frame;
        FillGray(frame, 1024, 768, [](int x, int y) { return (x + 3 * y) & 0xff; });
        view.SetImage(&frame);
        CZubCandidate record;
        record.m_ptKiv = {100, 200};
        record.m_iKivValue = 1;
        view.SetMark(record);
        const QImage shot = Grab(view);
        const auto gray = [](int x, int y) {
            const int g = (x + 3 * y) & 0xff;
            return qRgb(g, g, g);
        };
        QCOMPARE(shot.pixel(0, 479), gray(0, 0));  // frame row 0 on the bottom line
        QCOMPARE(shot.pixel(639, 0), gray(639, 479));
        QCOMPARE(shot.pixel(640, 0), view.palette().color(QPalette::Button).rgb());
        QCOMPARE(BoundsOf(shot, kGreen).center(), QPoint(99, 279));  // (100, 480 - 200)
    }

    void DrawsTheCrosshairWithItsGaps()
    {
        CZubBmpImage view;
        view.resize(110, 90);
        CZubFrame frame;
        FillGray(frame, 100, 80, [](int, int) { return 50; });
        view.SetImage(&frame);
        view.SetCenter(50, 30);  // screen (50, 80 - 30)
        const QImage shot = Grab(view);
        const auto green = [&](int x, int y) { return shot.pixel(x, y) == kGreen; };
        // Horizontal: [0, 40) and [60, 100); the circle's box is 40 .. 59.
        QVERIFY(green(0, 50) && green(39, 50) && green(40, 50) && green(59, 50));
        QVERIFY(!green(45, 50) && !green(50, 50) && !green(55, 50));
        QVERIFY(green(60, 50) && green(99, 50) && !green(100, 50));
        // Vertical: [0, 40) and [60, 80).
        QVERIFY(green(50, 0) && green(50, 39) && !green(50, 45) && !green(50, 55));
        QVERIFY(green(50, 60) && green(50, 79) && !green(50, 80));
        QCOMPARE(BoundsOf(shot, kGreen), QRect(0, 0, 100, 80));
    }

    void TintsEverythingOutsideTheMaskRed()
    {
        CZubBmpImage view;
        view.resize(10, 10);
        CZubFrame frame, mask;
        FillGray(frame, 10, 10, [](int, int) { return 200; });
        FillGray(mask, 10, 10, [](int x, int y) { return x < 5 && y < 8 ? 1 : 0; });
        view.SetImage(&frame);
        view.OverlayMask(mask);
        const QImage shot = Grab(view);
        QCOMPARE(shot.pixel(2, 9), qRgb(200, 200, 200));  // frame row 0, inside
        QCOMPARE(shot.pixel(7, 9), qRgb(128, 200, 200));
        QCOMPARE(shot.pixel(2, 0), qRgb(128, 200, 200));  // frame row 9, outside
        CZubFrame wrongSize;
        FillGray(wrongSize, 4, 4, [](int, int) { return 0; });
        view.OverlayMask(wrongSize);  // refused, picture unchanged
        QCOMPARE(Grab(view).pixel(2, 9), qRgb(200, 200, 200));
    }

    void ImageWindowShowsALargeFrameWhole()
    {
        CZubFrame mean;
        mean.Create(3000, 2000, FRAME_MONO16);
        for (int y = 0; y < 2000; ++y)
            std::fill_n(mean.GetRow16(y), 3000, static_cast<uint16_t>(y < 1000 ? 100 : 510));
        CZubShowFrameDlg dialog;
        dialog.SetTitle("Mean image of 12 frames");
        dialog.ShowFrame(mean);
        dialog.SetCenter(2500, 1500);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("Mean image of 12 frames"));
        QCOMPARE(dialog.Image()->size(), QSize(3000, 2000));
        QVERIFY(dialog.width() <= dialog.screen()->availableGeometry().width());
        const QScrollArea* scroll = dialog.findChild<QScrollArea*>();
        QVERIFY(scroll->horizontalScrollBar()->isVisible());
        const QRect visible(QPoint(scroll->horizontalScrollBar()->value(), scroll->verticalScrollBar()->value()),
                            scroll->viewport()->size());
        QVERIFY(visible.contains(2500, 500));  // scrolled to the crosshair
        const QImage shot = Grab(*dialog.Image());
        QCOMPARE(shot.pixel(10, 1990), qRgb(50, 50, 50));   // 100 of 510, stretched
        QCOMPARE(shot.pixel(10, 10), qRgb(255, 255, 255));
        QCOMPARE(shot.pixel(2500, 100), kGreen);            // crosshair at (2500, 2000 - 1500)
        QCOMPARE(shot.pixel(2900, 500), kGreen);
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubshowframedlg-large.png")));
    }

    void ImageWindowScreenshotOfAPlanetAndItsMask()
    {
        CZubFrame mean, mask;
        MakePlanet(mean, mask);
        CZubShowFrameDlg dialog;
        dialog.SetTitle("Mask frame");
        dialog.ShowFrameWithMask(mean, mask);
        dialog.SetCenter(mean.m_iWidth / 2, mean.m_iHeight / 2);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.Image()->size(), QSize(360, 270));
        QVERIFY(dialog.grab().save(ZubScreenshotPath("zubshowframedlg-mask.png")));
    }
};

ZUB_QTEST_MAIN(CZubBmpImageTest)
#include "zubbmpimage_test.moc"
