// Drawing helpers shared by the display controls. Lines follow one rule everywhere: the
// start pixel is painted, the end pixel is not, so joined segments never paint a pixel twice
// and a line from A to A paints nothing.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

class QPainter;

// Any direction, into a 32-bit image; pixels outside the image are skipped.
void ZubLineTo(QImage& image, QPoint from, QPoint to, QRgb colour);
// Horizontal or vertical lines through a painter (the crosshair over a picture).
void ZubAxisLine(QPainter& painter, QPoint from, QPoint to, const QColor& colour);
// The rectangle a 1-pixel pen must outline so that the ellipse stays inside the box
// (left, top, right, bottom) with right and bottom excluded.
QRect ZubEllipseRect(int left, int top, int right, int bottom);
