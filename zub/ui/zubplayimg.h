// The player's picture window: the frame on show, 1:1, without controls.
#pragma once

#include "zubtypes.h"

#include <QImage>
#include <QWidget>

#include <cstddef>

class CZubPlayImg : public QWidget
{
    Q_OBJECT

public:
    // A tool window of the player: the window manager keeps it above the player and the
    // main window while both are in use. Hidden until the player shows it.
    explicit CZubPlayImg(QWidget* owner);

    // Copies a 24-bit frame laid out as the header says, bottom line first when bBottomUp
    // (CZubPlayState::RowsBottomUp), and repaints. The picture and the window follow the
    // frame's size. False, keeping the picture, for another layout or a buffer shorter than
    // the header says.
    bool SetPlayFrame(const BITMAPINFOHEADER& bih, const uint8_t* pixels, size_t bytes, bool bBottomUp);

    // Top line first; null before the first frame.
    const QImage& Picture() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};
