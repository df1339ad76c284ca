#include "zubbmpimgresult.h"

#include "zubpaint.h"
#include "zubtypes.h"

#include <QPainter>

CZubBmpImgResult::CZubBmpImgResult(QWidget* parent)
    : QWidget(parent), m_image(kSide, kSide, QImage::Format_RGB32)
{
    setFixedSize(kSide, kSide);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_image.fill(Qt::white);
}

void CZubBmpImgResult::SetThumbnail(const uint8_t* pixels, int pixelBytes, bool bBottomUp)
{
    if (!pixels)
    {
        ClearThumbnail();
        return;
    }
    for (int y = 0; y < kSide; ++y)
    {
        QRgb* out = reinterpret_cast<QRgb*>(m_image.scanLine(ZubPictureLine(y, kSide, bBottomUp)));
        if (pixelBytes == 1)
        {
            const uint8_t* in = pixels + kSide * y;
            for (int x = 0; x < kSide; ++x)
                out[x] = qRgb(in[x], in[x], in[x]);
            continue;
        }
        const uint8_t* in = pixels + 3 * kSide * y;
        for (int x = 0; x < kSide; ++x, in += 3)
            out[x] = qRgb(in[2], in[1], in[0]);
    }
    update();
}

void CZubBmpImgResult::ClearThumbnail()
{
    m_image.fill(Qt::white);
    update();
}

void CZubBmpImgResult::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
    if (m_iShowCircles == 0)
        return;
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ZubEllipseRect(0, 0, kSide, kSide));
    painter.drawEllipse(ZubEllipseRect(8, 8, 24, 24));
}
