// The histogram, the photometric profile and the thumbnail, pixel by pixel.
#include "zubuitest.h"

#include "zubbmphisto.h"
#include "zubbmpimgresult.h"
#include "zubbmpphotometry.h"

#include <array>
#include <vector>

namespace
{
const QRgb kBar = qRgb(128, 128, 128);
const QRgb kSpace = qRgb(240, 240, 240);
const QRgb kMarker = qRgb(240, 0, 0);
const QRgb kBlack = qRgb(0, 0, 0);

QImage Grab(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int CountInColumn(const QImage& image, int x, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        count += image.pixel(x, y) == colour;
    return count;
}
}  // namespace

class CZubBmpPlotsTest : public QObject
{
    Q_OBJECT

private slots:
    void HistogramBarsScaleToTheTallest()
    {
        CZubBmpHisto histo;
        histo.resize(400, 300);  // the plot keeps its size
        QCOMPARE(histo.size(), QSize(256, 100));

        std::array<int, 256> bins{};
        histo.SetHistogram(bins.data());
        QImage shot = Grab(histo);
        for (int x = 0; x < 256; ++x)
        {
            QCOMPARE(CountInColumn(shot, x, kBar), 0);
            QCOMPARE(CountInColumn(shot, x, kSpace), 99);  // rows 1 .. 99
        }

        bins[10] = 100;
        bins[20] = 50;
        histo.SetHistogram(bins.data());
        shot = Grab(histo);
        QCOMPARE(CountInColumn(shot, 10, kBar), 98);  // bar 99: rows 2 .. 99
        QCOMPARE(CountInColumn(shot, 20, kBar), 48);  // bar 49: rows 52 .. 99
        QVERIFY(shot.pixel(20, 52) == kBar && shot.pixel(20, 50) == kSpace);

        histo.ClearHistogram();
        QVERIFY(!histo.HasData());
        QCOMPARE(CountInColumn(Grab(histo), 10, kBar), 0);
    }

    void PhotometryScalesTheProfileAndPlacesTheMarker()
    {
        CZubBmpPhotometry plot;
        QCOMPARE(plot.size(), QSize(256, 100));
        const int series[] = {1000, 1007, 1014, 1021, 1028, 1035, 1042, 1049, 1056, 1063};
        plot.SetProfile(10, series);
        QVERIFY(plot.Value(0) == 5 && plot.Value(255) == 95);
        plot.SetProfileMarker(5, 10);
        QImage shot = Grab(plot);
        QCOMPARE(shot.pixel(127, 1), kMarker);          // 5 * 255 / 10
        QCOMPARE(shot.pixel(1, 100 - 5), kBlack);       // the curve's first step
        QCOMPARE(shot.pixel(255, 5), qRgb(128, 0, 0));  // its last point
        QVERIFY(shot.pixel(0, 50) == kBlack && shot.pixel(60, 20) == kSpace);  // outline, inside

        // Equal values and no values: a flat line, the marker at 0 without frames.
        const std::vector<int> flat(30, 42);
        plot.SetProfile(30, flat.data());
        plot.SetProfileMarker(3, 0);
        shot = Grab(plot);
        const int flatRow = 100 - plot.Value(0);
        for (int x = 1; x < 255; ++x)
        {
            QCOMPARE(plot.Value(x), plot.Value(0));
            QCOMPARE(shot.pixel(x, flatRow), kBlack);
        }
        QCOMPARE(shot.pixel(0, 10), kMarker);
        plot.SetProfile(0, nullptr);
        QCOMPARE(plot.Value(100), plot.Value(0));
    }

    void ThumbnailIsBottomUpWithOptionalCircles()
    {
        CZubBmpImgResult thumb;
        QCOMPARE(Grab(thumb).pixel(16, 16), qRgb(255, 255, 255));
        std::vector<uint8_t> pixels(CZubBmpImgResult::kBytes, 90);
        pixels[0] = 1, pixels[1] = 2, pixels[2] = 3;  // row 0, column 0: blue, green, red
        thumb.SetThumbnail(pixels.data(), 3, true);
        QImage shot = Grab(thumb);
        QVERIFY(shot.pixel(0, 31) == qRgb(3, 2, 1) && shot.pixel(0, 0) == qRgb(90, 90, 90));

        thumb.ShowCircles(1);
        shot = Grab(thumb);
        QVERIFY(CountInColumn(shot, 0, kBlack) > 0 && CountInColumn(shot, 8, kBlack) > 0);
        QVERIFY(shot.pixel(16, 16) == qRgb(90, 90, 90) && shot.pixel(31, 31) == qRgb(90, 90, 90));

        thumb.ClearThumbnail();
        thumb.ShowCircles(0);
        QCOMPARE(CountInColumn(Grab(thumb), 5, qRgb(255, 255, 255)), 32);
    }
};

ZUB_QTEST_MAIN(CZubBmpPlotsTest)
#include "zubbmpplots_test.moc"
