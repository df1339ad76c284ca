#include "zubbmpimage.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubframe.h"
#include "zubpaint.h"

#include <QPainter>

#include <algorithm>
#include <array>

namespace
{
const QColor kMarkColour(0, 255, 0);
constexpr int kMarkRadius = 5;
constexpr int kCrosshairRadius = 10;

// Rows the frame's buffer really holds, so a short buffer is never read past its end.
int ReadableRows(const CZubFrame& frame)
{
    const size_t stride = frame.GetStride();
    if (!frame.HasBuffer() || stride == 0)
        return 0;
    return static_cast<int>(std::min<size_t>(frame.m_iHeight, frame.GetBufferSize() / stride));
}

const std::array<QRgb, 256>& GrayTable()
{
    static const std::array<QRgb, 256> table = [] {
        std::array<QRgb, 256> gray{};
        for (int g = 0; g < 256; ++g)
            gray[g] = qRgb(g, g, g);
        return gray;
    }();
    return table;
}
}  // namespace

CZubBmpImage::CZubBmpImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CZubBmpImage::SetImage(const CZubFrame* frame, bool bBottomUp)
{
    m_bBottomUp = bBottomUp;
    const bool usable = frame && frame->m_iWidth > 0 && frame->m_iHeight > 0
                        && (frame->m_iBits == FRAME_MONO8 || frame->m_iBits == FRAME_COLOR_RGB24);
    if (!usable || !AllocatePicture(frame->m_iWidth, frame->m_iHeight))
    {
        m_image = QImage();
        return;
    }
    if (frame->m_iBits == FRAME_COLOR_RGB24)
        CopyRows24(*frame);
    else
        CopyRows8(*frame);
}

bool CZubBmpImage::AllocatePicture(int width, int height)
{
    // One picture of the frame's own size; reused while the size stays.
    if (m_image.size() == QSize(width, height))
        return true;
    m_image = QImage(width, height, QImage::Format_RGB32);
    if (m_image.isNull())
    {
        ZubApp().m_log.Log("Image of %i x %i pixels too large to show.", width, height);
        return false;
    }
    return true;
}

void CZubBmpImage::CopyRows24(const CZubFrame& frame)
{
    const int width = m_image.width();
    const int height = m_image.height();
    const int rows = ReadableRows(frame);
    for (int y = 0; y < height; ++y)
    {
        QRgb* out = reinterpret_cast<QRgb*>(m_image.scanLine(ZubPictureLine(y, height, m_bBottomUp)));
        if (y >= rows)
        {
            std::fill(out, out + width, qRgb(0, 0, 0));
            continue;
        }
        const uint8_t* in = frame.GetRowRGB(y);
        for (int x = 0; x < width; ++x, in += 3)
            out[x] = qRgb(in[2], in[1], in[0]);
    }
}

void CZubBmpImage::CopyRows8(const CZubFrame& frame)
{
    const std::array<QRgb, 256>& gray = GrayTable();
    const int width = m_image.width();
    const int height = m_image.height();
    const int rows = ReadableRows(frame);
    for (int y = 0; y < height; ++y)
    {
        QRgb* out = reinterpret_cast<QRgb*>(m_image.scanLine(ZubPictureLine(y, height, m_bBottomUp)));
        if (y >= rows)
        {
            std::fill(out, out + width, gray[0]);
            continue;
        }
        const uint8_t* in = frame.GetRow(y);
        for (int x = 0; x < width; ++x)
            out[x] = gray[in[x]];
    }
}

void CZubBmpImage::SetMark(const CZubCandidate& record)
{
    m_ptMark = record.m_ptKiv;
    m_iMarkValue = record.m_iKivValue;
}

void CZubBmpImage::OverlayMask(const CZubFrame& mask)
{
    if (m_image.isNull() || mask.m_iBits != FRAME_MONO8 || mask.m_iWidth != m_image.width()
        || mask.m_iHeight != m_image.height())
        return;
    const int width = m_image.width();
    const int height = m_image.height();
    const int rows = ReadableRows(mask);
    for (int y = 0; y < rows; ++y)
    {
        const uint8_t* in = mask.GetRow(y);
        QRgb* out = reinterpret_cast<QRgb*>(m_image.scanLine(ZubPictureLine(y, height, m_bBottomUp)));
        for (int x = 0; x < width; ++x)
            if (in[x] != 1)
                out[x] = (out[x] & 0xff00ffffu) | (128u << 16);
    }
}

void CZubBmpImage::SetCenter(int x, int y)
{
    m_ptCenter = SZubPoint{x, y};
}

QPoint CZubBmpImage::ScreenPoint(SZubPoint frame) const
{
    return QPoint(frame.x, ZubPictureLine(frame.y, m_image.height(), m_bBottomUp));
}

void CZubBmpImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (m_image.isNull())
        return;
    const int width = m_image.width();
    const int height = m_image.height();
    if (m_bCrop && (width > kCropWidth || height > kCropHeight))
    {
        // Frame rows 0 .. hc - 1: the picture's last hc lines when bottom-up, else its first.
        const int wc = std::min(width, kCropWidth);
        const int hc = std::min(height, kCropHeight);
        painter.drawImage(QPoint(0, 0), m_image, QRect(0, m_bBottomUp ? height - hc : 0, wc, hc));
        PaintMark(painter, hc);
    }
    else
    {
        painter.drawImage(QPoint(0, 0), m_image);
        PaintMark(painter, height);
    }
    PaintCrosshair(painter);
}

void CZubBmpImage::PaintMark(QPainter& painter, int pictureHeight) const
{
    if (m_iMarkValue <= 0)
        return;
    const int sx = m_ptMark.x;
    const int sy = ZubPictureLine(m_ptMark.y, pictureHeight, m_bBottomUp);
    painter.setPen(QPen(kMarkColour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ZubEllipseRect(sx - kMarkRadius, sy - kMarkRadius, sx + kMarkRadius,
                                       sy + kMarkRadius));
}

void CZubBmpImage::PaintCrosshair(QPainter& painter) const
{
    if (m_ptCenter == SZubPoint{})
        return;
    const int width = m_image.width();
    const int height = m_image.height();
    const QPoint centre = ScreenPoint(m_ptCenter);
    const int cx = centre.x();
    const int cy = centre.y();
    const int r = kCrosshairRadius;
    painter.setPen(QPen(kMarkColour, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ZubEllipseRect(cx - r, cy - r, cx + r, cy + r));
    ZubAxisLine(painter, QPoint(0, cy), QPoint(cx - r, cy), kMarkColour);
    ZubAxisLine(painter, QPoint(cx + r, cy), QPoint(width, cy), kMarkColour);
    ZubAxisLine(painter, QPoint(cx, 0), QPoint(cx, cy - r), kMarkColour);
    ZubAxisLine(painter, QPoint(cx, cy + r), QPoint(cx, height), kMarkColour);
}
