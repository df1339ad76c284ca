#include "zubbmpphotometry.h"

#include "zubdialogs.h"
#include "zubpaint.h"

#include <QPainter>

#include <algorithm>

namespace
{
constexpr int kLow = 5;      // the curve spans kLow .. kLow + kSpan
constexpr int kSpan = 90;
constexpr int kFlat = kLow + kSpan / 2;
const QRgb kBackground = qRgb(240, 240, 240);
const QRgb kOutline = qRgb(0, 0, 0);
const QRgb kMarker = qRgb(240, 0, 0);
const QRgb kPoint = qRgb(128, 0, 0);
}  // namespace

CZubBmpPhotometry::CZubBmpPhotometry(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kPoints, kPlotHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CZubBmpPhotometry::SetProfile(int count, const int* series)
{
    if (count <= 0 || !series)
    {
        m_aValues.fill(kFlat);
        return;
    }
    const std::vector<int> points = ZubProfileColumns(std::vector<int>(series, series + count), kPoints);
    std::copy(points.begin(), points.end(), m_aValues.begin());
    const auto [lo, hi] = std::minmax_element(m_aValues.begin(), m_aValues.end());
    const double low = *lo;
    const double range = static_cast<double>(*hi) - low;
    if (range == 0.0)
    {
        m_aValues.fill(kFlat);
        return;
    }
    for (int& v : m_aValues)
        v = static_cast<int>((kSpan / range) * (v - low) + kLow);
}

void CZubBmpPhotometry::SetProfileMarker(int index, int count)
{
    const double x = count > 0 ? index * (255.0 / count) : 0.0;
    m_iMarkerX = static_cast<int>(std::clamp(x, -1.0, 256.0));
}

void CZubBmpPhotometry::paintEvent(QPaintEvent*)
{
    QImage plot(kPoints, kPlotHeight, QImage::Format_RGB32);
    plot.fill(kBackground);
    const int right = kPoints - 1;
    const int bottom = kPlotHeight - 1;
    ZubLineTo(plot, QPoint(0, 0), QPoint(right, 0), kOutline);
    ZubLineTo(plot, QPoint(right, 0), QPoint(right, bottom), kOutline);
    ZubLineTo(plot, QPoint(right, bottom), QPoint(0, bottom), kOutline);
    ZubLineTo(plot, QPoint(0, bottom), QPoint(0, 0), kOutline);

    ZubLineTo(plot, QPoint(m_iMarkerX, 0), QPoint(m_iMarkerX, kPlotHeight), kMarker);
    QPoint current(0, kPlotHeight - m_aValues[0]);
    for (int i = 1; i < kPoints; ++i)
    {
        const QPoint next(i, kPlotHeight - m_aValues[i]);
        if (next.y() < kPlotHeight)  // values of 0 (no profile yet) fall below the plot
            reinterpret_cast<QRgb*>(plot.scanLine(next.y()))[i] = kPoint;
        ZubLineTo(plot, current, next, kOutline);
        current = next;
    }
    QPainter(this).drawImage(0, 0, plot);
}
