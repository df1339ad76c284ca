#include "zubpaint.h"

#include <QPainter>

#include <cstdlib>

namespace
{
void PutPixel(QImage& image, int x, int y, QRgb colour)
{
    if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
        reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
}
}  // namespace

void ZubLineTo(QImage& image, QPoint from, QPoint to, QRgb colour)
{
    // Bresenham; the loop stops before the end point.
    const int dx = std::abs(to.x() - from.x());
    const int dy = -std::abs(to.y() - from.y());
    const int sx = from.x() < to.x() ? 1 : -1;
    const int sy = from.y() < to.y() ? 1 : -1;
    int error = dx + dy;
    int x = from.x();
    int y = from.y();
    while (x != to.x() || y != to.y())
    {
        PutPixel(image, x, y, colour);
        const int twice = 2 * error;
        if (twice >= dy)
        {
            error += dy;
            x += sx;
        }
        if (twice <= dx)
        {
            error += dx;
            y += sy;
        }
    }
}

void ZubAxisLine(QPainter& painter, QPoint from, QPoint to, const QColor& colour)
{
    // Pixels from the start up to the end, excluded, whichever way the line runs.
    const int x0 = from.x() <= to.x() ? from.x() : to.x() + 1;
    const int y0 = from.y() <= to.y() ? from.y() : to.y() + 1;
    const int width = std::abs(to.x() - from.x());
    const int height = std::abs(to.y() - from.y());
    if (from.y() == to.y() && width > 0)
        painter.fillRect(QRect(x0, from.y(), width, 1), colour);
    else if (from.x() == to.x() && height > 0)
        painter.fillRect(QRect(from.x(), y0, 1, height), colour);
}

QRect ZubEllipseRect(int left, int top, int right, int bottom)
{
    // An aliased 1-pixel outline of QRect(x, y, w, h) covers w + 1 columns and h + 1 rows.
    return QRect(left, top, right - left - 1, bottom - top - 1);
}
