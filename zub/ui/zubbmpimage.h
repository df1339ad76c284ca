// A frame as a picture, first row of the video at the top (see ZubRowsBottomUp), with an
// optional candidate mark, crosshair and mask tint.
#pragma once

#include "zubtypes.h"

#include <QImage>
#include <QWidget>

class CZubFrame;
class CZubCandidate;

class CZubBmpImage : public QWidget
{
    Q_OBJECT

public:
    // The part of a large picture the main view shows when cropping.
    static constexpr int kCropWidth = 640;
    static constexpr int kCropHeight = 480;

    explicit CZubBmpImage(QWidget* parent = nullptr);

    // Null, an empty frame or a layout other than 8 or 24 bits: no picture. `bBottomUp`: the
    // buffer holds the picture's bottom line first. Does not repaint.
    void SetImage(const CZubFrame* frame, bool bBottomUp);
    // The record's KIV position and value; the mark is drawn when the value is above 0.
    void SetMark(const CZubCandidate& record);
    // Red 128 wherever the 8-bit mask of the picture's size is not 1.
    void OverlayMask(const CZubFrame& mask);
    // Crosshair centre in frame coordinates; (0, 0): none.
    void SetCenter(int x, int y);
    // Where the pixel (x, row) of the frame is drawn, the whole picture shown.
    QPoint ScreenPoint(SZubPoint frame) const;
    // Cut pictures larger than 640 x 480 to their first 640 columns and 480 rows.
    void SetCrop(bool crop) { m_bCrop = crop; }

    SZubPoint Center() const { return m_ptCenter; }
    bool HasPicture() const { return !m_image.isNull(); }
    QSize PictureSize() const { return m_image.size(); }
    QSize sizeHint() const override { return QSize(kCropWidth, kCropHeight); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool AllocatePicture(int width, int height);
    void CopyRows24(const CZubFrame& frame);
    void CopyRows8(const CZubFrame& frame);
    // The mark on its row's line of the drawn picture (pictureHeight lines, cropped or not).
    void PaintMark(QPainter& painter, int pictureHeight) const;
    void PaintCrosshair(QPainter& painter) const;

    // Screen order, top line first. Null: no picture.
    QImage m_image;
    bool m_bBottomUp = false;
    SZubPoint m_ptMark;
    int32_t m_iMarkValue = 0;
    SZubPoint m_ptCenter;
    bool m_bCrop = false;
};
