// The run's accepted candidates one at a time: where, when and by which detector each was
// found, thumbnails of its neighbourhood around any frame, its photometric profile, and the
// frame of detection on demand.
#pragma once

#include "zubdialogs.h"

#include <QDialog>
#include <QImage>

#include <array>
#include <memory>

class CZubBmpImgResult;
class CZubDoc;
class CZubImpact;

namespace Ui
{
class CZubResultsDlg;
}

class CZubResultsDlg : public QDialog
{
    Q_OBJECT

public:
    // The document must hold at least one candidate and must not change while it is open.
    CZubResultsDlg(const CZubDoc& doc, QWidget* parent = nullptr);
    ~CZubResultsDlg() override;

    // The command: runs the dialog when the document has candidates.
    static void RunCommand(const CZubDoc& doc, QWidget* parent);

    int SelectedIndex() const { return m_iSelected; }
    // The frame at the centre of the strip (1-based).
    int CurrentFrame() const { return m_iCurrent; }
    // The strip, the profile and what identifies the candidate, for "Save image".
    QImage EvidenceImage() const;

private:
    const CZubImpact& Selected() const;
    int Processed() const;
    // Shows the selected candidate at its frame of detection.
    void Show();
    // Centres the strip, the trackbar, the value and the profile marker on frame p.
    void ShowFrame(int p);
    void OnSelect(int index);
    void OnCircles(bool bOn);
    void OnShowFrameCandidate();
    void OnShowDetectionImage();
    void OnSaveImage();
    // The report page of this video and its pictures, into a folder the user chooses.
    void OnSaveReport();

    std::unique_ptr<Ui::CZubResultsDlg> m_ui;
    const CZubDoc& m_doc;
    std::array<CZubBmpImgResult*, kZubStripThumbnails> m_thumbs{};
    int m_iSelected = 0;
    int m_iCurrent = 0;
    bool m_bTimes = false;  // a SER file with a time stamp for every frame
};
