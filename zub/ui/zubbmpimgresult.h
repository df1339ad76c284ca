// A 32 x 32 colour thumbnail of a candidate's neighbourhood, with optional circles that
// mark the zones of its photometric value.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>

class CZubBmpImgResult : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSide = 32;
    static constexpr int kBytes = kSide * kSide * 3;

    explicit CZubBmpImgResult(QWidget* parent = nullptr);

    // 32 rows of 32 pixels, each blue, green, red (pixelBytes 3) or the gray value (1), bottom
    // line first when bBottomUp (CZubDoc::RowsBottomUp); null shows white.
    void SetThumbnail(const uint8_t* pixels, int pixelBytes, bool bBottomUp);
    void ClearThumbnail();
    // Takes effect at the next repaint.
    void ShowCircles(int on) { m_iShowCircles = on; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;  // screen order, top line first
    int m_iShowCircles = 0;
};
