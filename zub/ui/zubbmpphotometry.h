// A brightness curve resampled to 256 points and scaled to the plot, with a red vertical
// marker at the current frame. The plot is 256 x 100.
#pragma once

#include <QWidget>

#include <array>

class CZubBmpPhotometry : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPoints = 256;
    static constexpr int kPlotHeight = 100;

    explicit CZubBmpPhotometry(QWidget* parent = nullptr);

    // count values of series, at the columns ZubProfileColumns picks; all equal, none or a
    // null series: a flat line mid-height.
    void SetProfile(int count, const int* series);
    // The marker at index of count frames across the plot; at 0 when count is not positive.
    void SetProfileMarker(int index, int count);

    int Value(int point) const { return m_aValues[point]; }
    int MarkerX() const { return m_iMarkerX; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<int, kPoints> m_aValues{};
    int m_iMarkerX = 0;
};
