// The image window: one frame at full size under a title, with an optional crosshair.
// A frame larger than the screen scrolls inside the window.
#pragma once

#include <QDialog>

#include <memory>

class CZubFrame;
class CZubBmpImage;

namespace Ui
{
class CZubShowFrameDlg;
}

class CZubShowFrameDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CZubShowFrameDlg(QWidget* parent = nullptr);
    ~CZubShowFrameDlg() override;

    void SetTitle(const QString& title);
    // 8 and 24-bit frames as they are; a 16-bit mean frame stretched to 8 bits. `bBottomUp`:
    // the buffers hold the picture's bottom line first (CZubDoc::RowsBottomUp).
    void ShowFrame(const CZubFrame& frame, bool bBottomUp);
    void ShowFrameWithMask(const CZubFrame& frame, const CZubFrame& mask, bool bBottomUp);
    void SetCenter(int x, int y);

    CZubBmpImage* Image() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The window around the whole picture, or as much of it as the screen holds.
    void FitToPicture();
    // A crosshair beyond the first screenful is brought into the middle of the view.
    void ScrollToCenter();

    std::unique_ptr<Ui::CZubShowFrameDlg> m_ui;
};
