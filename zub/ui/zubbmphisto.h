// A 256-level brightness histogram as grey bars on a light background, in a fixed
// 256 x 100 plot scaled to its tallest bar.
#pragma once

#include <QWidget>

#include <array>

class CZubBmpHisto : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kBars = 256;
    static constexpr int kPlotHeight = 100;

    explicit CZubBmpHisto(QWidget* parent = nullptr);

    // Scales the 256 bins to the plot and shows them from the next repaint on.
    void SetHistogram(const int histogram[kBars]);
    // Shows the plain background until the next SetHistogram: the view calls it where the
    // run starts over and where a frame comes without a histogram.
    void ClearHistogram();

    bool HasData() const { return m_bHasData; }
    int Bar(int index) const { return m_aBars[index]; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<int, kBars> m_aBars{};
    bool m_bHasData = false;
};
