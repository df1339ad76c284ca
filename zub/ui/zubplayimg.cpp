#include "zubplayimg.h"

#include <QPainter>

#include <cstdlib>
#include <cstring>

CZubPlayImg::CZubPlayImg(QWidget* owner) : QWidget(owner, Qt::Tool)
{
    setWindowTitle("Play video");
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(320, 240);
}

bool CZubPlayImg::SetPlayFrame(const BITMAPINFOHEADER& bih, const uint8_t* pixels, size_t bytes, bool bBottomUp)
{
    const int width = bih.biWidth;
    const int height = std::abs(bih.biHeight);
    if (bih.biBitCount != 24 || width <= 0 || height <= 0 || !pixels)
        return false;
    const size_t stride = static_cast<size_t>(ZubStride24(width));
    if (bytes / stride < static_cast<size_t>(height))
        return false;
    if (m_image.width() != width || m_image.height() != height)
    {
        m_image = QImage(width, height, QImage::Format_BGR888);
        if (m_image.isNull())
            return false;
        setFixedSize(width, height);
    }
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int row = 0; row < height; ++row)
        std::memcpy(m_image.scanLine(ZubPictureLine(row, height, bBottomUp)), pixels + row * stride, rowBytes);
    update();
    return true;
}

void CZubPlayImg::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_image.isNull())
    {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(0, 0, m_image);
}
