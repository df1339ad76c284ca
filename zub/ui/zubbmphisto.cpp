#include "zubbmphisto.h"

#include "zubpaint.h"

#include <QPainter>

#include <algorithm>

namespace
{
const QRgb kBarColour = qRgb(128, 128, 128);
const QRgb kSpaceColour = qRgb(240, 240, 240);
}  // namespace

CZubBmpHisto::CZubBmpHisto(QWidget* parent) : QWidget(parent)
{
    // The plot has one column per level whatever the layout would give it.
    setFixedSize(kBars, kPlotHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CZubBmpHisto::SetHistogram(const int histogram[kBars])
{
    if (!histogram)
    {
        ClearHistogram();
        return;
    }
    std::copy(histogram, histogram + kBars, m_aBars.begin());
    const int tallest = std::max(*std::max_element(m_aBars.begin(), m_aBars.end()), 1);
    for (int& bar : m_aBars)
        bar = static_cast<int>(static_cast<int64_t>(kPlotHeight - 1) * std::max(bar, 0) / tallest);
    m_bHasData = true;
}

void CZubBmpHisto::ClearHistogram()
{
    m_bHasData = false;
    update();
}

void CZubBmpHisto::paintEvent(QPaintEvent*)
{
    QImage plot(kBars, kPlotHeight, QImage::Format_RGB32);
    plot.fill(palette().color(QPalette::Button));
    if (m_bHasData)
    {
        for (int i = 0; i < kBars; ++i)
        {
            const int top = kPlotHeight - m_aBars[i];
            ZubLineTo(plot, QPoint(i, kPlotHeight - 1), QPoint(i, top), kBarColour);
            ZubLineTo(plot, QPoint(i, top - 1), QPoint(i, 0), kSpaceColour);
        }
    }
    QPainter(this).drawImage(0, 0, plot);
}
